#include "components/launcher_watch_step.h"

#include "diagnostics/error_texts.h"
#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "diagnostics/support_error.h"
#include "engine/pipeline_signals.h"
#include "engine/process_runner.h"
#include "platform/clock.h"
#include "platform/message_box.h"

namespace components {

bool IsChildRunning(uint32_t interpreter_id, uint64_t created) {
  return engine::IsProcessRunning(interpreter_id, true, "conhost.exe", created);
}

bool IsChildRunning(const platform::Process& interpreter) {
  return IsChildRunning(interpreter.id(), interpreter.creation_time());
}

LauncherWatchStep::LauncherWatchStep(const char* eulaText, const std::string& outputFolder)
    : InstallStep(engine::StepWithLicence(eulaText)), outputFolder(outputFolder) {
  plan_.waitLevel = 1;
  plan_.selfReportedProgress = 1;
  plan_.downloadWeight = 0.0;
}

int LauncherWatchStep::Download() {
  progress_.downloadDone.Release();
  return 1;
}

void LauncherWatchStep::ParseLauncherOutput(std::FILE* file, const std::string& tracked_name,
                                            bool last_read) {
  components::ParseLauncherOutput(
      &output, file, tracked_name,
      [this](const std::string& msg, int32_t code) {
        error_line_seen_ = true;
        PostErrorEvent(events(), diagnostics::kInstallationError, msg);
        diagnostics::ShowSupportError(boxes(), code, "Installation Error");
        AbortInstallation(signals());
      },
      last_read);
}

double LauncherWatchStep::ComputeLaunchProgress() const {
  return components::ComputeLaunchProgress(output, componentWeight, trackedWeight);
}

std::unique_ptr<platform::Process> LauncherWatchStep::StartInterpreter(
    const std::string& arguments) {
  uint32_t error = 0;
  const std::string system = platform::SystemFolder();
  if (system.empty()) return nullptr;  // never \cmd.exe, from the drive's root
  return platform::Process::StartHidden(platform::JoinPath(system, "cmd.exe"), arguments, &error);
}

void LauncherWatchStep::WaitForProgramToAppear(const platform::Process& interpreter) {
  if (IsChildRunning(interpreter)) return;
  for (int i = 0; i < timing.start_checks; ++i) {
    context().clock.SleepMs(timing.poll_ms);
    if (IsChildRunning(interpreter) || signals().abortFlag.load()) return;
  }
}

bool LauncherWatchStep::MoveBar(SlowAdvance& slow) {
  constexpr double kCeiling = 0.95;
  if (RaiseToLaunchProgress()) {
    slow.quiet_polls = 0;
    slow.advances = 0;
    return false;
  }
  if (progress_.installFraction.load() >= kCeiling) return false;  // waits without counting
  ++slow.quiet_polls;
  const int used =
      slow.limits == SlowAdvance::Limits::kQuietPolls ? slow.quiet_polls : slow.advances;
  if (used < slow.limit && slow.tick == 0) {
    engine::StepProgress::Raise(progress_.installFraction, progress_.installFraction.load() + 0.01);
    progress_.Notify();
    ++slow.advances;
  }
  slow.tick = (slow.tick + 1) % 3;
  return true;
}

bool LauncherWatchStep::RaiseToLaunchProgress() {
  const double progress = ComputeLaunchProgress();
  if (progress <= progress_.installFraction.load()) return false;
  engine::StepProgress::Raise(progress_.installFraction, progress);
  progress_.Notify();
  return true;
}

}  // namespace components
