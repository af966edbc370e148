// What a group of records changes in the aggregates a store keeps beside
// them, so that the funnel is read from counts instead of from every record:
// each run's state, and per scope (every build together, or one build) the
// runs, records and launches, the runs of each step, each failure's reports
// and runs, and the runs of each day with how many of them failed. The store
// loads what the group touches, hands it here, and writes the changes back in
// the commit that holds the records.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "tools/collector/report_parser.h"

namespace collector {

// The longest text an aggregate keeps (a build's watermark, a failure's
// description): a longer one is cut, "..." at its end, so that no key grows
// past what an index can hold and no page row past what a page shows.
constexpr size_t kAggregateTextBytes = 256;
std::string CutText(const std::string& text);

// A run as the aggregates keep it.
struct RunTally {
  std::string token;
  std::string build;    // the WATERMARK of its last 3021 (cut); empty until one comes
  uint64_t events = 0;  // EventBit of every event seen
  uint64_t records = 0;
  std::optional<int64_t> started_ms;    // the first 3000's timestamp (the sender's clock)
  std::optional<int64_t> launched_ms;   // the first 7003's
  diagnostics::EventId last_event = 0;  // of the record received last
  std::string last_timestamp;
  int64_t last_received_ms = 0;
  int64_t day = 0;      // the UTC day its first record was received, days since 1970
  bool failed = false;  // it reported a failure (IsFailureEvent)

  std::optional<int64_t> LaunchMs() const;  // start to launch, when both are known
  bool Finished() const;                    // it reported its exit (3111)
};

// Every build together, or one build.
struct Scope {
  bool all = true;
  std::string build;
  bool operator<(const Scope& other) const {
    return std::tie(all, build) < std::tie(other.all, other.build);
  }
};

// Changes to one scope's counts.
struct CountChange {
  int64_t records = 0;
  int64_t runs = 0;
  int64_t launches = 0;
  std::map<size_t, int64_t> steps;  // by index in StepRules(); no entry: no change
};

struct FailureKey {
  diagnostics::EventId event_id = 0;
  std::string description;  // cut
  bool operator<(const FailureKey& other) const {
    return std::tie(event_id, description) < std::tie(other.event_id, other.description);
  }
};

struct FailureChange {
  int64_t reports = 0;
  int64_t runs = 0;
};

struct DayChange {
  int64_t runs = 0;
  int64_t failed_runs = 0;
};

constexpr int64_t kDayMs = 86400000;

// What the store holds of the runs a group names, before the group.
struct TallyBefore {
  std::map<std::string, RunTally> runs;  // by token; a run not found is new
  // By token, the reports of each failure the run sent, for every run of
  // the group that sends a failure or a 3021 (which may move it to a build).
  std::map<std::string, std::map<FailureKey, uint64_t>> run_failures;
};

struct TallyChanges {
  std::map<std::string, RunTally> runs;  // every run the group touched, as it is now
  std::map<Scope, CountChange> counts;
  std::map<std::pair<Scope, FailureKey>, FailureChange> failures;
  std::map<std::pair<std::string, FailureKey>, int64_t> run_failures;  // reports added
  std::map<std::pair<Scope, int64_t>, DayChange> days;                 // by scope and day
};

// The tokens whose failures TallyBefore must hold for these records.
std::vector<std::string> TokensNeedingFailures(const std::vector<ReportRecord>& records);

// The changes the records make, in their order, to what the store holds.
TallyChanges TallyRecords(const std::vector<ReportRecord>& records, const TallyBefore& before);

}  // namespace collector
