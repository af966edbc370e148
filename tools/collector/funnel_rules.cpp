#include "tools/collector/funnel_rules.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace collector {

const std::vector<StepRule>& StepRules() {
  static const std::vector<StepRule> kRules = {
      {"started", {diagnostics::kLaunched}, {}},
      {"refused: system not supported", {diagnostics::kOsUnsupported}, {}},
      {"configuration read", {diagnostics::kConfigurationDetached}, {}, "started"},
      // What the checks found missing: each download of a component is
      // measured from the runs that needed it, not from runs that had it.
      {".NET needed", {diagnostics::kDotNetMissing}, {}},
      {"Service Pack needed", {diagnostics::kServicePackMissing}, {}},
      {"agent needed", {diagnostics::kAgentMissing}, {}},
      {"licence shown", {diagnostics::kEulaInitialised}, {}, "configuration read"},
      {"licence accepted", {diagnostics::kEulaAccepted}, {}, "licence shown"},
      {"licence declined", {diagnostics::kEulaCancelled, diagnostics::kEulaClosed}, {}},
      // Without licence text to show, the progress window comes straight
      // after the splash.
      {"progress shown", {diagnostics::kProgressInitialised}, {}, "configuration read"},
      {".NET download done",
       {diagnostics::kDotNetPrimaryDownloadCompleted,
        diagnostics::kDotNetSecondaryDownloadCompleted},
       {},
       ".NET needed"},
      {".NET download failed",
       {diagnostics::kDotNetPrimaryDownloadFailed, diagnostics::kDotNetSecondaryDownloadFailed},
       {diagnostics::kDotNetPrimaryDownloadCompleted,
        diagnostics::kDotNetSecondaryDownloadCompleted}},
      {".NET download cancelled",
       {diagnostics::kDotNetPrimaryDownloadCancelled,
        diagnostics::kDotNetSecondaryDownloadCancelled},
       {}},
      {"Service Pack download done",
       {diagnostics::kServicePackPrimaryDownloadCompleted,
        diagnostics::kServicePackSecondaryDownloadCompleted},
       {},
       "Service Pack needed"},
      {"Service Pack download failed",
       {diagnostics::kServicePackPrimaryDownloadFailed,
        diagnostics::kServicePackSecondaryDownloadFailed},
       {diagnostics::kServicePackPrimaryDownloadCompleted,
        diagnostics::kServicePackSecondaryDownloadCompleted}},
      {"Service Pack download cancelled",
       {diagnostics::kServicePackPrimaryDownloadCancelled,
        diagnostics::kServicePackSecondaryDownloadCancelled},
       {}},
      {"agent download done", {diagnostics::kAgentDownloadCompleted}, {}, "agent needed"},
      {"agent download failed",
       {diagnostics::kAgentDownloadFailed},
       {diagnostics::kAgentDownloadCompleted}},
      {"agent download cancelled", {diagnostics::kAgentDownloadCancelled}, {}},
      {".NET install done", {diagnostics::kDotNetInstallCompleted}, {}, ".NET download done"},
      {".NET install failed", {diagnostics::kDotNetInstallFailed}, {}},
      {".NET install cancelled", {diagnostics::kDotNetInstallCancelled}, {}},
      {"Service Pack install done",
       {diagnostics::kServicePackInstallCompleted},
       {},
       "Service Pack download done"},
      {"Service Pack install failed", {diagnostics::kServicePackInstallFailed}, {}},
      {"Service Pack install cancelled", {diagnostics::kServicePackInstallCancelled}, {}},
      {"agent install done", {diagnostics::kAgentInstallCompleted}, {}, "agent download done"},
      {"agent install failed", {diagnostics::kAgentInstallFailed}, {}},
      {"agent install cancelled", {diagnostics::kAgentInstallCancelled}, {}},
      {"game launched", {diagnostics::kAgentLaunched}, {}, "progress shown"},
      {"exited", {diagnostics::kBootstrapperExited}, {}},
      // Last, though a resume comes mid-download: a stored run's events are a
      // mask whose bits follow this order, so a new event comes last unless
      // kAggregateVersion is raised (which builds every mask again).
      {"a download resumed", {diagnostics::kDownloadResumed}, {}},
  };
  return kRules;
}

bool IsFailureEvent(diagnostics::EventId id) {
  static const diagnostics::EventId kFailures[] = {diagnostics::kOsUnsupported,
                                                   diagnostics::kExitedOnDataDetachmentFailure,
                                                   diagnostics::kConfigurationMissing,
                                                   diagnostics::kExitedOnException,
                                                   diagnostics::kChildProcessesNotTerminated,
                                                   diagnostics::kDotNetPrimaryDownloadFailed,
                                                   diagnostics::kDotNetSecondaryDownloadFailed,
                                                   diagnostics::kServicePackPrimaryDownloadFailed,
                                                   diagnostics::kServicePackSecondaryDownloadFailed,
                                                   diagnostics::kAgentDownloadFailed,
                                                   diagnostics::kDotNetInstallFailed,
                                                   diagnostics::kServicePackInstallFailed,
                                                   diagnostics::kAgentInstallFailed,
                                                   diagnostics::kAgentLaunchFailed,
                                                   diagnostics::kAgentLaunchTimedOut,
                                                   diagnostics::kAgentLaunchParametersInvalid,
                                                   diagnostics::kAgentFolderNotFound,
                                                   diagnostics::kAgentLauncherNotFound,
                                                   diagnostics::kMiniServerLaunchFailed,
                                                   diagnostics::kSystemDirectoryNotFound,
                                                   diagnostics::kNotEnoughDiskSpace,
                                                   diagnostics::kFileCreationFailed,
                                                   diagnostics::kHttpError,
                                                   diagnostics::kSystemError,
                                                   diagnostics::kInstallationError,
                                                   diagnostics::kInternetSessionFailed,
                                                   diagnostics::kMd5CheckFailed,
                                                   diagnostics::kSha256CheckFailed,
                                                   diagnostics::kSignatureMissing,
                                                   diagnostics::kSignatureBroken,
                                                   diagnostics::kSignatureUntrusted,
                                                   diagnostics::kSignatureOtherSigner,
                                                   diagnostics::kSignatureTimedOut,
                                                   diagnostics::kSignatureUnavailable,
                                                   diagnostics::kEventError,
                                                   diagnostics::kInstallationTerminated,
                                                   diagnostics::kDownloadTerminated};
  return std::find(std::begin(kFailures), std::end(kFailures), id) != std::end(kFailures);
}

namespace {

// Every event a rule names, in the order first named: its bit is 1 << index.
const std::vector<diagnostics::EventId>& RuleEvents() {
  static const std::vector<diagnostics::EventId> kEvents = [] {
    std::vector<diagnostics::EventId> found;
    for (const StepRule& rule : StepRules()) {
      for (const std::vector<diagnostics::EventId>* ids : {&rule.ids, &rule.unless}) {
        for (diagnostics::EventId id : *ids) {
          if (std::find(found.begin(), found.end(), id) == found.end()) found.push_back(id);
        }
      }
    }
    if (found.size() > 64 || StepRules().size() > 64) std::abort();  // the masks are 64 bits
    return found;
  }();
  return kEvents;
}

uint64_t Bits(const std::vector<diagnostics::EventId>& ids) {
  uint64_t bits = 0;
  for (diagnostics::EventId id : ids) bits |= EventBit(id);
  return bits;
}

}  // namespace

uint64_t EventBit(diagnostics::EventId id) {
  const std::vector<diagnostics::EventId>& events = RuleEvents();
  const auto found = std::find(events.begin(), events.end(), id);
  return found == events.end() ? 0 : uint64_t{1} << (found - events.begin());
}

std::optional<size_t> StepBefore(size_t step) {
  static const std::vector<std::optional<size_t>> kBefore = [] {
    std::vector<std::optional<size_t>> out;
    for (const StepRule& rule : StepRules()) {
      out.emplace_back();
      for (size_t i = 0; rule.after && i < StepRules().size(); ++i) {
        if (std::string(StepRules()[i].label) == rule.after) out.back() = i;
      }
      if (rule.after && !out.back()) std::abort();  // a rule names a row that is not there
    }
    return out;
  }();
  return step < kBefore.size() ? kBefore[step] : std::nullopt;
}

uint64_t StepsReached(uint64_t events) {
  static const std::vector<std::pair<uint64_t, uint64_t>> kMasks = [] {
    std::vector<std::pair<uint64_t, uint64_t>> out;
    for (const StepRule& rule : StepRules()) out.push_back({Bits(rule.ids), Bits(rule.unless)});
    return out;
  }();
  uint64_t steps = 0;
  for (size_t i = 0; i < kMasks.size(); ++i) {
    if ((events & kMasks[i].first) && !(events & kMasks[i].second)) steps |= uint64_t{1} << i;
  }
  return steps;
}

}  // namespace collector
