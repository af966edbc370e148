// The install funnel of the stored reports: per executable build (watermark),
// how many runs reached each step; the most frequent failures with their
// texts; the time from start to launch; the runs that stopped reporting.
// It is read from the aggregates a store keeps as it commits records
// (funnel_tally.h), so that it costs the rows it shows, not the store's size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/collector/funnel_rules.h"
#include "tools/collector/report_parser.h"

namespace collector {

class Store;

struct FunnelFilter {
  std::optional<std::string> watermark;  // only the runs of this build
  int64_t since_ms = 0;                  // only records received from then on
  std::optional<int64_t> until_ms;       // only records received before then
};

// A time the records were received, UTC, as "YYYY-MM-DD[ hh:mm[:ss]]" (the
// grammar of --since, --until and the page's since= and until=).
std::optional<int64_t> ParseReceivedTime(const std::string& text);
// The filter's range from the times given (null: not given): null when both
// are times, else the name of the one that is not ("since" or "until").
const char* SetTimeRange(const std::optional<std::string>& since,
                         const std::optional<std::string>& until, FunnelFilter* filter);

struct FunnelStep {
  const char* label;
  uint64_t runs;
};

// The runs whose first record was received on one UTC day.
struct DayCount {
  int64_t day = 0;  // days since 1970-01-01
  uint64_t runs = 0;
  uint64_t failed_runs = 0;  // of them, those that reported a failure
};

// One build's funnel. A run belongs to the build its WATERMARK record names;
// runs without one are counted under the empty watermark.
struct BuildFunnel {
  std::string watermark;  // cut to kAggregateTextBytes
  uint64_t runs = 0;
  std::vector<FunnelStep> steps;            // in the order of a run, StepRules()
  uint64_t unfinished = 0;                  // runs without 3111
  std::optional<int64_t> launch_median_ms;  // 3000 to 7003, on the sender's clock
  std::optional<int64_t> launch_p90_ms;
  uint64_t launches_timed = 0;
  std::vector<DayCount> days;  // the latest kListedDays with runs, oldest first
};

struct FailureRow {
  diagnostics::EventId event_id;
  std::string description;  // as sent (cut): the HTTP status text, the exit code's text
  uint64_t reports = 0;
  uint64_t runs = 0;
};

struct UnfinishedRun {
  std::string run;  // RunLabel of its token
  std::string watermark;
  diagnostics::EventId last_event;  // the last one received
  std::string last_timestamp;
};

constexpr size_t kListedBuilds = 20;
// The most records a date range may hold: a range is summed up from its
// records (the kept aggregates count everything), into aggregates of its own
// that take about 70 MiB a million records.
constexpr uint64_t kMostRangeRecords = 2000000;
constexpr size_t kListedDays = 31;
constexpr size_t kTopFailures = 20;
constexpr size_t kListedUnfinished = 20;

struct FunnelReport {
  uint64_t records = 0;  // of the runs counted
  uint64_t runs = 0;
  BuildFunnel all;                        // every build together
  std::vector<BuildFunnel> builds;        // by runs, most first; at most kListedBuilds
  bool more_builds = false;               // builds past kListedBuilds were left out
  std::vector<FailureRow> failures;       // by reports, most first; at most kTopFailures
  std::vector<UnfinishedRun> unfinished;  // the latest, at most kListedUnfinished
};

// What a report may show of a run's token: its first characters (at most 8,
// never half of it), enough to find the run in the store and too few to send
// reports in its name.
std::string RunLabel(const std::string& token);

// The store's funnel from its aggregates; with a time range, from the
// records received within it (read once, summed up on the side).
std::optional<FunnelReport> BuildFunnelReport(Store& store, const FunnelFilter& filter,
                                              std::string* error);
// The funnels of several builds (none: every build) over one reading of the
// store: a time range (the filter's watermark is not used) is summed up once.
std::optional<std::vector<FunnelReport>> BuildFunnelReports(
    Store& store, const FunnelFilter& range, const std::vector<std::optional<std::string>>& builds,
    std::string* error);

// The same from records at hand, summed up as a store does.
FunnelReport SummarizeRecords(const std::vector<ReportRecord>& records, const FunnelFilter& filter);

}  // namespace collector
