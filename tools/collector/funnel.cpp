#include "tools/collector/funnel.h"

#include <algorithm>
#include <map>
#include <unordered_map>

namespace {

// One row of the funnel: the runs that posted any of `ids`; a failed row
// leaves out the runs that posted any of `unless` (a primary address that
// failed before the secondary one served the file).
struct StepRule {
  const char* label;
  std::vector<EventId> ids;
  std::vector<EventId> unless;
};

const std::vector<StepRule>& StepRules() {
  static const std::vector<StepRule> rules = {
      {"started", {kLaunched}, {}},
      {"refused: system not supported", {kOsUnsupported}, {}},
      {"configuration read", {kConfigurationDetached}, {}},
      {"licence shown", {kEulaInitialised}, {}},
      {"licence accepted", {kEulaAccepted}, {}},
      {"licence declined", {kEulaCancelled, kEulaClosed}, {}},
      {"progress shown", {kProgressInitialised}, {}},
      {".NET download done",
       {kDotNetPrimaryDownloadCompleted, kDotNetSecondaryDownloadCompleted},
       {}},
      {".NET download failed",
       {kDotNetPrimaryDownloadFailed, kDotNetSecondaryDownloadFailed},
       {kDotNetPrimaryDownloadCompleted, kDotNetSecondaryDownloadCompleted}},
      {".NET download cancelled",
       {kDotNetPrimaryDownloadCancelled, kDotNetSecondaryDownloadCancelled},
       {}},
      {"Service Pack download done",
       {kServicePackPrimaryDownloadCompleted, kServicePackSecondaryDownloadCompleted},
       {}},
      {"Service Pack download failed",
       {kServicePackPrimaryDownloadFailed, kServicePackSecondaryDownloadFailed},
       {kServicePackPrimaryDownloadCompleted, kServicePackSecondaryDownloadCompleted}},
      {"Service Pack download cancelled",
       {kServicePackPrimaryDownloadCancelled, kServicePackSecondaryDownloadCancelled},
       {}},
      {"agent download done", {kAgentDownloadCompleted}, {}},
      {"agent download failed", {kAgentDownloadFailed}, {kAgentDownloadCompleted}},
      {"agent download cancelled", {kAgentDownloadCancelled}, {}},
      {".NET install done", {kDotNetInstallCompleted}, {}},
      {".NET install failed", {kDotNetInstallFailed}, {}},
      {".NET install cancelled", {kDotNetInstallCancelled}, {}},
      {"Service Pack install done", {kServicePackInstallCompleted}, {}},
      {"Service Pack install failed", {kServicePackInstallFailed}, {}},
      {"Service Pack install cancelled", {kServicePackInstallCancelled}, {}},
      {"agent install done", {kAgentInstallCompleted}, {}},
      {"agent install failed", {kAgentInstallFailed}, {}},
      {"agent install cancelled", {kAgentInstallCancelled}, {}},
      {"game launched", {kAgentLaunched}, {}},
      {"exited", {kBootstrapperExited}, {}},
  };
  return rules;
}

struct RunState {
  std::string watermark;
  std::vector<EventId> ids;  // sorted, each once
  std::optional<int64_t> started_ms;
  std::optional<int64_t> launched_ms;
  EventId last_event = 0;
  std::string last_timestamp;
  int64_t last_received_ms = 0;
  bool Has(EventId id) const { return std::binary_search(ids.begin(), ids.end(), id); }
};

bool HasAny(const RunState& run, const std::vector<EventId>& ids) {
  return std::any_of(ids.begin(), ids.end(), [&run](EventId id) { return run.Has(id); });
}

// Nearest rank: the smallest value with at least `percent` of them at or below.
int64_t Percentile(const std::vector<int64_t>& sorted, int percent) {
  size_t rank = (sorted.size() * percent + 99) / 100;
  return sorted[std::max<size_t>(rank, 1) - 1];
}

BuildFunnel Summarize(const std::string& watermark, const std::vector<const RunState*>& runs) {
  BuildFunnel build;
  build.watermark = watermark;
  build.runs = runs.size();
  for (const StepRule& rule : StepRules()) {
    uint64_t count = 0;
    for (const RunState* run : runs) {
      if (HasAny(*run, rule.ids) && !HasAny(*run, rule.unless)) ++count;
    }
    build.steps.push_back({rule.label, count});
  }
  std::vector<int64_t> launch_times;
  for (const RunState* run : runs) {
    if (!run->Has(kBootstrapperExited)) ++build.unfinished;
    if (run->started_ms && run->launched_ms) {
      launch_times.push_back(*run->launched_ms - *run->started_ms);
    }
  }
  std::sort(launch_times.begin(), launch_times.end());
  build.launches_timed = launch_times.size();
  if (!launch_times.empty()) {
    build.launch_median_ms = Percentile(launch_times, 50);
    build.launch_p90_ms = Percentile(launch_times, 90);
  }
  return build;
}

class FunnelBuilder {
 public:
  void Add(const ReportRecord& record) {
    ++records_;
    RunState& run = runs_[record.token];
    auto at = std::lower_bound(run.ids.begin(), run.ids.end(), record.event_id);
    if (at == run.ids.end() || *at != record.event_id) run.ids.insert(at, record.event_id);
    if (record.event_id == kWatermarkReported) run.watermark = record.watermark;
    // A report sent twice (the sender retries what it could not send)
    // keeps its first time.
    if (record.event_id == kLaunched && !run.started_ms)
      run.started_ms = TimestampMs(record.timestamp);
    if (record.event_id == kAgentLaunched && !run.launched_ms) {
      run.launched_ms = TimestampMs(record.timestamp);
    }
    if (record.received_ms >= run.last_received_ms) {
      run.last_received_ms = record.received_ms;
      run.last_event = record.event_id;
      run.last_timestamp = record.timestamp;
    }
    if (IsFailureEvent(record.event_id)) {
      Failure& failure = failures_[{record.event_id, record.description}];
      failure.tokens.push_back(record.token);
    }
  }

  FunnelReport Finish(const FunnelFilter& filter) {
    FunnelReport report;
    std::map<std::string, std::vector<const RunState*>> by_build;
    std::vector<const RunState*> all;
    std::vector<std::pair<const std::string*, const RunState*>> unfinished;
    for (const auto& [token, run] : runs_) {
      if (filter.watermark && run.watermark != *filter.watermark) continue;
      by_build[run.watermark].push_back(&run);
      all.push_back(&run);
      if (!run.Has(kBootstrapperExited)) unfinished.push_back({&token, &run});
    }
    report.runs = all.size();
    report.all = Summarize("", all);
    for (const auto& [watermark, runs] : by_build)
      report.builds.push_back(Summarize(watermark, runs));
    std::stable_sort(report.builds.begin(), report.builds.end(),
                     [](const BuildFunnel& a, const BuildFunnel& b) { return a.runs > b.runs; });

    for (auto& [key, failure] : failures_) {
      FailureRow row{key.first, key.second, 0, 0};
      std::vector<const std::string*> tokens;
      for (const std::string& token : failure.tokens) {
        if (filter.watermark && runs_.at(token).watermark != *filter.watermark) continue;
        ++row.reports;
        tokens.push_back(&token);
      }
      std::sort(tokens.begin(), tokens.end(),
                [](const std::string* a, const std::string* b) { return *a < *b; });
      row.runs = std::unique(tokens.begin(), tokens.end(),
                             [](const std::string* a, const std::string* b) { return *a == *b; }) -
                 tokens.begin();
      if (row.reports > 0) report.failures.push_back(row);
    }
    std::stable_sort(
        report.failures.begin(), report.failures.end(),
        [](const FailureRow& a, const FailureRow& b) { return a.reports > b.reports; });
    if (report.failures.size() > kTopFailures) report.failures.resize(kTopFailures);

    std::sort(unfinished.begin(), unfinished.end(), [](const auto& a, const auto& b) {
      return a.second->last_received_ms > b.second->last_received_ms;
    });
    for (size_t i = 0; i < unfinished.size() && i < kListedUnfinished; ++i) {
      const RunState& run = *unfinished[i].second;
      report.unfinished.push_back(
          {*unfinished[i].first, run.watermark, run.last_event, run.last_timestamp});
    }
    report.records = records_;
    return report;
  }

 private:
  struct Failure {
    std::vector<std::string> tokens;  // one per report
  };
  uint64_t records_ = 0;
  std::unordered_map<std::string, RunState> runs_;
  std::map<std::pair<EventId, std::string>, Failure> failures_;
};

}  // namespace

bool IsFailureEvent(EventId id) {
  static const EventId kFailures[] = {kOsUnsupported,
                                      kExitedOnDataDetachmentFailure,
                                      kConfigurationMissing,
                                      kExitedOnException,
                                      kChildProcessesNotTerminated,
                                      kDotNetPrimaryDownloadFailed,
                                      kDotNetSecondaryDownloadFailed,
                                      kServicePackPrimaryDownloadFailed,
                                      kServicePackSecondaryDownloadFailed,
                                      kAgentDownloadFailed,
                                      kDotNetInstallFailed,
                                      kServicePackInstallFailed,
                                      kAgentInstallFailed,
                                      kAgentLaunchFailed,
                                      kAgentLaunchTimedOut,
                                      kAgentLaunchParametersInvalid,
                                      kAgentFolderNotFound,
                                      kAgentLauncherNotFound,
                                      kMiniServerLaunchFailed,
                                      kSystemDirectoryNotFound,
                                      kNotEnoughDiskSpace,
                                      kFileCreationFailed,
                                      kHttpError,
                                      kSystemError,
                                      kInstallationError,
                                      kInternetSessionFailed,
                                      kMd5CheckFailed,
                                      kEventError,
                                      kInstallationTerminated,
                                      kDownloadTerminated};
  return std::find(std::begin(kFailures), std::end(kFailures), id) != std::end(kFailures);
}

FunnelReport SummarizeRecords(const std::vector<ReportRecord>& records,
                              const FunnelFilter& filter) {
  FunnelBuilder builder;
  for (const ReportRecord& record : records) {
    if (record.received_ms >= filter.since_ms) builder.Add(record);
  }
  return builder.Finish(filter);
}

std::optional<FunnelReport> BuildFunnelReport(Store& store, const FunnelFilter& filter,
                                              std::string* error) {
  FunnelBuilder builder;
  if (!store.ForEach(
          filter.since_ms, [&builder](const ReportRecord& r) { builder.Add(r); }, error)) {
    return std::nullopt;
  }
  return builder.Finish(filter);
}
