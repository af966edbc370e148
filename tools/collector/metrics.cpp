#include "tools/collector/metrics.h"

#include <cstdio>

namespace collector {

void Metrics::CountCommit(uint64_t records, double seconds, bool ok) {
  if (ok) {
    records_.fetch_add(records, std::memory_order_relaxed);
  } else {
    failed_commits_.fetch_add(1, std::memory_order_relaxed);
  }
  commits_.fetch_add(1, std::memory_order_relaxed);
  commit_micros_.fetch_add(static_cast<uint64_t>(seconds * 1e6), std::memory_order_relaxed);
  int bucket = 0;
  while (bucket < kBucketCount && seconds > kBuckets[bucket]) ++bucket;
  buckets_[bucket].fetch_add(1, std::memory_order_relaxed);
}

std::string Metrics::Text() const {
  std::string out;
  auto counter = [&out](const char* name, const char* help, uint64_t value) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " counter\n" + name +
           " " + std::to_string(value) + "\n";
  };
  counter("kestrel_collector_requests_total", "HTTP requests answered on the report port.",
          requests());
  counter("kestrel_collector_records_total", "Event reports stored.", records());
  counter("kestrel_collector_rejects_total",
          "Requests on the report port answered 4xx: not an event report.", rejects());
  counter("kestrel_collector_failed_commits_total", "Grouped commits the store refused.",
          failed_commits());
  out +=
      "# HELP kestrel_collector_refused_total Requests and connections refused by a bound, by "
      "reason.\n# TYPE kestrel_collector_refused_total counter\n";
  for (int i = 0; i < kRefusalCount; ++i) {
    out += std::string("kestrel_collector_refused_total{reason=\"") +
           DescribeRefusal(static_cast<Refusal>(i)).label + "\"} " +
           std::to_string(refusals_[i].load()) + "\n";
  }
  out +=
      "# HELP kestrel_collector_open_connections Connections open on both listeners.\n"
      "# TYPE kestrel_collector_open_connections gauge\nkestrel_collector_open_connections " +
      std::to_string(open_connections()) + "\n";
  const char* name = "kestrel_collector_commit_seconds";
  out += std::string("# HELP ") + name + " Time of one grouped commit.\n# TYPE " + name +
         " histogram\n";
  uint64_t cumulative = 0;
  for (int i = 0; i <= kBucketCount; ++i) {
    cumulative += buckets_[i].load();
    char bound[32];
    if (i < kBucketCount) {
      std::snprintf(bound, sizeof bound, "%g", kBuckets[i]);
    } else {
      std::snprintf(bound, sizeof bound, "+Inf");
    }
    out += std::string(name) + "_bucket{le=\"" + bound + "\"} " + std::to_string(cumulative) + "\n";
  }
  char sum[32];
  std::snprintf(sum, sizeof sum, "%.6f", commit_micros_.load() / 1e6);
  out += std::string(name) + "_sum " + sum + "\n" + name + "_count " + std::to_string(cumulative) +
         "\n";
  return out;
}

}  // namespace collector
