// Groups the records of concurrent requests into one commit each: a request
// thread hands in its record and waits until the commit that holds it is
// done, while one committer thread writes whatever has gathered meanwhile.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/collector/metrics.h"
#include "tools/collector/store.h"

namespace collector {

enum class CommitResult { kStored, kStoreFull, kFailed };

class CommitQueue {
 public:
  // `max_store_bytes`: past it (Store::UsedBytes), no more records are
  // written; 0: no bound.
  CommitQueue(Store& store, Metrics& metrics, uint64_t max_store_bytes = 0);
  // Commits what was handed in before it, then ends the committer.
  ~CommitQueue();
  CommitQueue(const CommitQueue&) = delete;
  CommitQueue& operator=(const CommitQueue&) = delete;

  // Waits until the record is committed; kFailed when the store refused the
  // commit or the queue is closing, kStoreFull past the bound (the record is
  // then not stored).
  CommitResult Submit(ReportRecord record);

 private:
  struct Group {
    std::vector<ReportRecord> records;
    bool done = false;
    CommitResult result = CommitResult::kFailed;
  };

  void CommitLoop();
  // Whether the store is past its bound, asked at most once a second (the
  // committer's thread).
  bool Full();

  Store& store_;
  Metrics& metrics_;
  const uint64_t max_store_bytes_;
  // The committer's alone.
  bool full_ = false;
  std::chrono::steady_clock::time_point measured_{};
  std::mutex mutex_;
  std::condition_variable gathered_;   // the committer waits for records
  std::condition_variable committed_;  // the request threads wait for their group
  std::shared_ptr<Group> open_;        // under mutex_: the group records join
  bool closing_ = false;               // under mutex_
  std::thread committer_;
};

}  // namespace collector
