#include "tools/collector/funnel_rules.h"

#include <algorithm>
#include <cstdlib>

namespace collector {

const std::vector<StepRule>& StepRules() {
  static const std::vector<StepRule> kRules = {
      {"started", {diagnostics::kLaunched}, {}},
      {"refused: system not supported", {diagnostics::kOsUnsupported}, {}},
      {"configuration read", {diagnostics::kConfigurationDetached}, {}},
      {"licence shown", {diagnostics::kEulaInitialised}, {}},
      {"licence accepted", {diagnostics::kEulaAccepted}, {}},
      {"licence declined", {diagnostics::kEulaCancelled, diagnostics::kEulaClosed}, {}},
      {"progress shown", {diagnostics::kProgressInitialised}, {}},
      {".NET download done",
       {diagnostics::kDotNetPrimaryDownloadCompleted,
        diagnostics::kDotNetSecondaryDownloadCompleted},
       {}},
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
       {}},
      {"Service Pack download failed",
       {diagnostics::kServicePackPrimaryDownloadFailed,
        diagnostics::kServicePackSecondaryDownloadFailed},
       {diagnostics::kServicePackPrimaryDownloadCompleted,
        diagnostics::kServicePackSecondaryDownloadCompleted}},
      {"Service Pack download cancelled",
       {diagnostics::kServicePackPrimaryDownloadCancelled,
        diagnostics::kServicePackSecondaryDownloadCancelled},
       {}},
      {"agent download done", {diagnostics::kAgentDownloadCompleted}, {}},
      {"agent download failed",
       {diagnostics::kAgentDownloadFailed},
       {diagnostics::kAgentDownloadCompleted}},
      {"agent download cancelled", {diagnostics::kAgentDownloadCancelled}, {}},
      {".NET install done", {diagnostics::kDotNetInstallCompleted}, {}},
      {".NET install failed", {diagnostics::kDotNetInstallFailed}, {}},
      {".NET install cancelled", {diagnostics::kDotNetInstallCancelled}, {}},
      {"Service Pack install done", {diagnostics::kServicePackInstallCompleted}, {}},
      {"Service Pack install failed", {diagnostics::kServicePackInstallFailed}, {}},
      {"Service Pack install cancelled", {diagnostics::kServicePackInstallCancelled}, {}},
      {"agent install done", {diagnostics::kAgentInstallCompleted}, {}},
      {"agent install failed", {diagnostics::kAgentInstallFailed}, {}},
      {"agent install cancelled", {diagnostics::kAgentInstallCancelled}, {}},
      {"game launched", {diagnostics::kAgentLaunched}, {}},
      {"exited", {diagnostics::kBootstrapperExited}, {}},
      // Last, though a resume comes mid-download: a stored run's events are a
      // mask whose bits follow this order, so a new event only ever comes last.
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
