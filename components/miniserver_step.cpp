#include "components/miniserver_step.h"

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "engine/pipeline_signals.h"
#include "platform/clock.h"

namespace components {

namespace {

constexpr char kMiniServer[] = ".\\launcher\\miniserver.exe";
constexpr char kOutputFile[] = "MiniServerOutput.txt";
constexpr char kTrackedName[] = "Content";

}  // namespace

int MiniServerStep::Abandoned() {
  events().Post(diagnostics::kInstallationTerminated);
  return diagnostics::kInstallationTerminated;
}

bool IsMiniServerPresent(diagnostics::EventSink& events) {
  if (!platform::PathExists(kMiniServer)) return false;
  events.Post(diagnostics::kMiniServerFound);
  return true;
}

MiniServerStep::MiniServerStep(const char* eulaText, const std::string& outputFolder)
    : LauncherWatchStep(eulaText, outputFolder) {
  plan_.requiredMegabytes = 65;
  contentName = kTrackedName;
}

int MiniServerStep::Install() {
  progress_.phase = 2;
  progress_.Notify();
  trackedWeight = 0.75;
  componentWeight = 0.25;
  const std::string output_path = platform::JoinPath(outputFolder, kOutputFile);
  // A cancel confirmed since the install began starts nothing.
  if (signals().abortFlag.load()) return Abandoned();
  // /K keeps the interpreter after the MiniServer has ended; the step ends it.
  std::unique_ptr<platform::Process> interpreter = StartInterpreter(
      std::string(" /K \"\"") + kMiniServer + "\" -ld c > \"" + output_path + "\"\"");
  if (!interpreter) {
    events().Post(diagnostics::kMiniServerLaunchFailed);
    return diagnostics::kMiniServerLaunchFailed;
  }
  WaitForProgramToAppear(*interpreter);
  platform::UniqueFile file = platform::OpenFile(output_path, "rb");

  SlowAdvance slow{SlowAdvance::Limits::kAdvances, 15};
  bool ended = true;
  while (IsChildRunning(*interpreter)) {
    ParseLauncherOutput(file.get(), kTrackedName);
    if (signals().abortFlag.load()) {
      ended = false;
      break;
    }
    MoveBar(slow);
    context().clock.SleepMs(timing.poll_ms);
  }
  // Its very last lines. Only once it has ended is a last line without its
  // line end complete; while it runs it may be half written.
  ParseLauncherOutput(file.get(), kTrackedName, /*last_read=*/ended);
  file.reset();
  if (signals().abortFlag.load()) return Abandoned();  // the interpreter keeps running
  context().clock.SleepMs(timing.final_pause_ms);
  interpreter->Terminate(0);
  interpreter.reset();
  engine::StepProgress::Raise(progress_.installFraction, 1.0);
  progress_.Notify();
  progress_.installDone.Release();
  return 1;
}

}  // namespace components
