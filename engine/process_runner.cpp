#include "engine/process_runner.h"

#include <string>
#include <vector>

#include "diagnostics/error_texts.h"
#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "diagnostics/support_error.h"
#include "engine/pipeline_signals.h"
#include "engine/run_context.h"
#include "engine/step_plan.h"
#include "engine/step_progress.h"
#include "platform/ascii.h"
#include "platform/message_box.h"
#include "platform/process.h"

namespace engine {

namespace {

constexpr uint32_t kPollMs = 1000;

}  // namespace

int ProcessInstallerRunner::Run(const StepPlan& plan, StepProgress& progress,
                                const RunContext& context) {
  PipelineSignals& signals = context.signals;
  diagnostics::EventSink& events = context.events;
  progress.installStart = NowSeconds();
  progress.phase = 2;
  progress.Notify();
  if (signals.abortFlag.load()) {
    events.Post(diagnostics::kInstallationTerminated);
    return diagnostics::kInstallationTerminated;
  }

  uint32_t error = 0;
  std::unique_ptr<platform::Process> process = platform::Process::Start(plan.commandLine, &error);
  if (!process) {
    PostErrorEvent(events, diagnostics::kInstallationError,
                   diagnostics::DescribeInstallerExitCode(static_cast<int>(error)));
    return diagnostics::kInstallationError;
  }
  // Waiting on the process itself notices its end at once; the abort flag is
  // still looked at every second.
  uint32_t wait_error = 0;
  bool ended = process->WaitForExit(0, &wait_error);
  while (!ended && wait_error == 0) {
    if (signals.abortFlag.load()) {
      events.Post(diagnostics::kInstallationTerminated);  // the installer itself keeps running
      return diagnostics::kInstallationTerminated;
    }
    progress.RaiseByInstallTime(plan);
    progress.Notify();
    ended = process->WaitForExit(kPollMs, &wait_error);
  }
  if (!ended) {
    // A wait that fails at once would make this loop spin for ever.
    PostSystemError(events, "Waiting for the installer", wait_error);
    return diagnostics::kSystemError;
  }
  const int code = process->ExitCode();
  process.reset();

  if (code == 0 || code == 3010) {
    progress.installDone.Release();
    progress.phase = 3;
    StepProgress::Raise(progress.installFraction, 1.0);
    progress.Notify();
    return 1;
  }
  PostErrorEvent(events, diagnostics::kInstallationError,
                 diagnostics::DescribeInstallerExitCode(code));
  diagnostics::ShowSupportError(context.boxes, code, "Installation Error");
  // 1 means success to the pipeline: an installer that exits with 1 failed.
  return code == 1 ? diagnostics::kInstallationError : code;
}

bool IsProcessRunning(uint32_t id, bool match_parent, const char* ignored_name,
                      uint64_t created_since) {
  std::vector<platform::ProcessEntry> entries;
  if (!platform::SnapshotProcesses(&entries)) return false;
  for (const platform::ProcessEntry& entry : entries) {
    if ((match_parent ? entry.parent_id : entry.id) != id) continue;
    if (ignored_name && platform::EqualsIgnoringCase(entry.name, ignored_name)) continue;
    if (created_since != 0) {
      uint64_t created = 0;
      // One that cannot be asked is not ours: our child runs as our user. One
      // still being made is counted by a later poll, once it has started.
      if (!platform::ProcessCreationTime(entry.id, &created) || created < created_since) continue;
    }
    return true;
  }
  return false;
}

}  // namespace engine
