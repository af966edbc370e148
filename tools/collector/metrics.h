// The collector's counters, written by the connection loop, the request and
// commit threads, and read by /metrics in the text format that monitoring systems scrape.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "tools/collector/refusal.h"

namespace collector {

class Metrics {
 public:
  // Upper bounds of the commit-latency buckets, in seconds.
  static constexpr double kBuckets[] = {0.0005, 0.001, 0.002, 0.005, 0.01,
                                        0.02,   0.05,  0.1,   0.5,   1.0};
  static constexpr int kBucketCount = sizeof(kBuckets) / sizeof(kBuckets[0]);

  void CountRequest() { requests_.fetch_add(1, std::memory_order_relaxed); }
  void CountReject() { rejects_.fetch_add(1, std::memory_order_relaxed); }
  void CountRefusal(Refusal why) {
    refusals_[static_cast<int>(why)].fetch_add(1, std::memory_order_relaxed);
  }
  // Written by the connection loop alone.
  void SetOpenConnections(uint64_t count) { open_connections_.store(count); }
  // One grouped commit of `records` records that took `seconds`.
  void CountCommit(uint64_t records, double seconds, bool ok);

  uint64_t requests() const { return requests_.load(); }
  uint64_t rejects() const { return rejects_.load(); }
  uint64_t records() const { return records_.load(); }
  uint64_t commits() const { return commits_.load(); }
  uint64_t failed_commits() const { return failed_commits_.load(); }
  uint64_t refusals(Refusal why) const { return refusals_[static_cast<int>(why)].load(); }
  uint64_t open_connections() const { return open_connections_.load(); }

  std::string Text() const;

 private:
  std::atomic<uint64_t> requests_{0};
  std::atomic<uint64_t> rejects_{0};
  std::atomic<uint64_t> records_{0};
  std::atomic<uint64_t> commits_{0};
  std::atomic<uint64_t> failed_commits_{0};
  std::atomic<uint64_t> commit_micros_{0};
  std::atomic<uint64_t> buckets_[kBucketCount + 1] = {};  // the last one: above every bound
  std::atomic<uint64_t> refusals_[kRefusalCount] = {};
  std::atomic<uint64_t> open_connections_{0};
};

}  // namespace collector
