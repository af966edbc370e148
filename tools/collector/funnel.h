// The install funnel of the stored reports: per executable build (watermark),
// how many runs reached each step; the most frequent failures with their
// texts; the time from start to launch; the runs that stopped reporting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/collector/store.h"

struct FunnelFilter {
  std::optional<std::string> watermark;  // only the runs of this build
  int64_t since_ms = 0;                  // only records received from then on
};

struct FunnelStep {
  const char* label;
  uint64_t runs;
};

// One build's funnel. A run belongs to the build its WATERMARK record names;
// runs without one are counted under the empty watermark.
struct BuildFunnel {
  std::string watermark;
  uint64_t runs = 0;
  std::vector<FunnelStep> steps;            // in the order of a run, FunnelStepLabels()
  uint64_t unfinished = 0;                  // runs without 3111
  std::optional<int64_t> launch_median_ms;  // 3000 to 7003, on the sender's clock
  std::optional<int64_t> launch_p90_ms;
  uint64_t launches_timed = 0;
};

struct FailureRow {
  EventId event_id;
  std::string description;  // as sent: the HTTP status text, the exit code's text
  uint64_t reports = 0;
  uint64_t runs = 0;
};

struct UnfinishedRun {
  std::string token;
  std::string watermark;
  EventId last_event;  // the last one received
  std::string last_timestamp;
};

struct FunnelReport {
  uint64_t records = 0;
  uint64_t runs = 0;
  BuildFunnel all;                        // every build together
  std::vector<BuildFunnel> builds;        // by runs, most first
  std::vector<FailureRow> failures;       // by reports, most first; at most kTopFailures
  std::vector<UnfinishedRun> unfinished;  // the latest, at most kListedUnfinished
};

constexpr size_t kTopFailures = 20;
constexpr size_t kListedUnfinished = 20;

// Whether the event tells of something that went wrong (a failed download
// or install, a launcher error, an error text, an exit on failure).
bool IsFailureEvent(EventId id);

// Reads the store's records once and sums them up.
std::optional<FunnelReport> BuildFunnelReport(Store& store, const FunnelFilter& filter,
                                              std::string* error);

// The same from records at hand (a store reads them in its order).
FunnelReport SummarizeRecords(const std::vector<ReportRecord>& records, const FunnelFilter& filter);
