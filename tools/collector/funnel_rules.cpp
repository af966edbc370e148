#include "tools/collector/funnel_rules.h"

#include <algorithm>
#include <cstdlib>

const std::vector<StepRule>& StepRules() {
  static const std::vector<StepRule> kRules = {
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
  return kRules;
}

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

namespace {

// Every event a rule names, in the order first named: its bit is 1 << index.
const std::vector<EventId>& RuleEvents() {
  static const std::vector<EventId> kEvents = [] {
    std::vector<EventId> found;
    for (const StepRule& rule : StepRules()) {
      for (const std::vector<EventId>* ids : {&rule.ids, &rule.unless}) {
        for (EventId id : *ids) {
          if (std::find(found.begin(), found.end(), id) == found.end()) found.push_back(id);
        }
      }
    }
    if (found.size() > 64 || StepRules().size() > 64) std::abort();  // the masks are 64 bits
    return found;
  }();
  return kEvents;
}

uint64_t Bits(const std::vector<EventId>& ids) {
  uint64_t bits = 0;
  for (EventId id : ids) bits |= EventBit(id);
  return bits;
}

}  // namespace

uint64_t EventBit(EventId id) {
  const std::vector<EventId>& events = RuleEvents();
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
