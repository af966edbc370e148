#include "tools/collector/funnel_tally.h"

#include <set>

#include "tools/collector/funnel_rules.h"

namespace collector {

namespace {

int64_t FloorDiv(int64_t value, int64_t by) {
  return value / by - (value % by != 0 && value < 0 ? 1 : 0);
}

void Apply(RunTally& run, const ReportRecord& record) {
  // Days count by the collector's clock, as the time ranges do: a player's
  // clock may be anywhere.
  if (run.records == 0) run.day = FloorDiv(record.received_ms, kDayMs);
  if (IsFailureEvent(record.event_id)) run.failed = true;
  ++run.records;
  run.events |= EventBit(record.event_id);
  if (record.event_id == diagnostics::kWatermarkReported)
    run.build = CutText(record.watermark.value_or(""));
  // A report sent twice (the sender retries what it could not send) keeps
  // its first time.
  if (record.event_id == diagnostics::kLaunched && !run.started_ms) {
    run.started_ms = diagnostics::TimestampMs(record.timestamp);
  }
  if (record.event_id == diagnostics::kAgentLaunched && !run.launched_ms) {
    run.launched_ms = diagnostics::TimestampMs(record.timestamp);
  }
  if (record.received_ms >= run.last_received_ms) {
    run.last_received_ms = record.received_ms;
    run.last_event = record.event_id;
    run.last_timestamp = record.timestamp;
  }
}

// Adds (sign 1) or takes away (sign -1) what a run counts for in a scope.
void Count(CountChange& change, const RunTally& run, int sign) {
  change.records += sign * static_cast<int64_t>(run.records);
  change.runs += sign;
  if (run.LaunchMs()) change.launches += sign;
  const uint64_t steps = StepsReached(run.events);
  for (size_t i = 0; i < 64; ++i) {
    if (steps & (uint64_t{1} << i)) change.steps[i] += sign;
  }
}

Scope BuildScope(const std::string& build) { return Scope{false, build}; }

// Adds (sign 1) or takes away (sign -1) what a run counts for in its day.
void CountDay(TallyChanges& changes, const RunTally& run, int sign) {
  for (const Scope& scope : {Scope{}, BuildScope(run.build)}) {
    DayChange& change = changes.days[{scope, run.day}];
    change.runs += sign;
    if (run.failed) change.failed_runs += sign;
  }
}

}  // namespace

std::string CutText(const std::string& text) {
  if (text.size() <= kAggregateTextBytes) return text;
  return text.substr(0, kAggregateTextBytes - 3) + "...";
}

std::optional<int64_t> RunTally::LaunchMs() const {
  if (!started_ms || !launched_ms) return std::nullopt;
  return *launched_ms - *started_ms;
}

bool RunTally::Finished() const { return events & EventBit(diagnostics::kBootstrapperExited); }

std::vector<std::string> TokensNeedingFailures(const std::vector<ReportRecord>& records) {
  std::set<std::string> tokens;
  for (const ReportRecord& r : records) {
    if (IsFailureEvent(r.event_id) || r.event_id == diagnostics::kWatermarkReported)
      tokens.insert(r.token);
  }
  return std::vector<std::string>(tokens.begin(), tokens.end());
}

TallyChanges TallyRecords(const std::vector<ReportRecord>& records, const TallyBefore& before) {
  TallyChanges changes;
  std::map<std::pair<std::string, FailureKey>, int64_t>& added = changes.run_failures;
  for (const ReportRecord& record : records) {
    auto [at, inserted] = changes.runs.try_emplace(record.token);
    if (inserted) {
      const auto found = before.runs.find(record.token);
      if (found != before.runs.end()) at->second = found->second;
      at->second.token = record.token;
    }
    Apply(at->second, record);
    if (IsFailureEvent(record.event_id)) {
      ++added[{record.token, FailureKey{record.event_id, CutText(record.description)}}];
    }
  }

  static const std::map<FailureKey, uint64_t> kNone;
  for (const auto& [token, now] : changes.runs) {
    const auto was = before.runs.find(token);
    const auto failures_found = before.run_failures.find(token);
    const std::map<FailureKey, uint64_t>& had =
        failures_found == before.run_failures.end() ? kNone : failures_found->second;
    if (was != before.runs.end()) {
      Count(changes.counts[Scope{}], was->second, -1);
      Count(changes.counts[BuildScope(was->second.build)], was->second, -1);
      CountDay(changes, was->second, -1);
      // A run that moved to another build takes its failures along.
      if (was->second.build != now.build) {
        for (const auto& [key, reports] : had) {
          FailureChange& from = changes.failures[{BuildScope(was->second.build), key}];
          FailureChange& to = changes.failures[{BuildScope(now.build), key}];
          from.reports -= static_cast<int64_t>(reports);
          from.runs -= 1;
          to.reports += static_cast<int64_t>(reports);
          to.runs += 1;
        }
      }
    }
    Count(changes.counts[Scope{}], now, 1);
    Count(changes.counts[BuildScope(now.build)], now, 1);
    CountDay(changes, now, 1);
  }
  for (const auto& [run_and_key, reports] : added) {
    const auto& [token, key] = run_and_key;
    const auto failures_found = before.run_failures.find(token);
    const bool known =
        failures_found != before.run_failures.end() && failures_found->second.count(key) != 0;
    for (const Scope& scope : {Scope{}, BuildScope(changes.runs.at(token).build)}) {
      FailureChange& change = changes.failures[{scope, key}];
      change.reports += reports;
      if (!known) change.runs += 1;
    }
  }
  return changes;
}

}  // namespace collector
