#include "components/miniserver_step.h"

#include "diagnostics/event_logger.h"
#include "engine/pipeline_signals.h"
#include "platform/clock.h"

namespace {

constexpr char kMiniServer[] = ".\\launcher\\miniserver.exe";
constexpr char kOutputFile[] = "MiniServerOutput.txt";
constexpr char kTrackedName[] = "Content";
constexpr double kSlowAdvanceCeiling = 0.95;
constexpr int kSlowAdvanceLimit = 15;

}  // namespace

int MiniServerStep::Abandoned() {
  PostEvent(9064);
  return 9064;
}

bool IsMiniServerPresent() {
  if (!platform::PathExists(kMiniServer)) return false;
  PostEvent(7500);
  return true;
}

MiniServerStep::MiniServerStep(const char* eulaText, const std::string& outputFolder)
    : LauncherWatchStep(eulaText, outputFolder) {
  requiredMegabytes = 65;
  contentName = kTrackedName;
}

int MiniServerStep::Install() {
  phase = 2;
  NotifyProgress();
  trackedWeight = 0.75;
  componentWeight = 0.25;
  const std::string outputPath = platform::JoinPath(outputFolder, kOutputFile);
  // A cancel confirmed since the install began starts nothing.
  if (signals().abortFlag.load()) return Abandoned();
  // /K keeps the interpreter after the MiniServer has ended; the step ends it.
  std::unique_ptr<platform::Process> interpreter = StartInterpreter(
      std::string(" /K \"\"") + kMiniServer + "\" -ld c > \"" + outputPath + "\"\"");
  if (!interpreter) {
    PostEvent(7501);
    return 7501;
  }
  WaitForProgramToAppear(*interpreter);
  platform::UniqueFile file = platform::OpenFile(outputPath, "rb");

  int advances = 0;
  int tick = 0;
  bool ended = true;
  while (IsChildRunning(*interpreter)) {
    ParseLauncherOutput(file.get(), kTrackedName);
    if (signals().abortFlag.load()) {
      ended = false;
      break;
    }
    if (RaiseToLaunchProgress()) {
      advances = 0;
    } else if (installFraction.load() < kSlowAdvanceCeiling) {
      if (advances < kSlowAdvanceLimit && tick == 0) {
        RaiseFraction(installFraction, installFraction.load() + 0.01);
        NotifyProgress();
        ++advances;
      }
      tick = (tick + 1) % 3;
    }
    platform::SleepMs(timing.pollMs);
  }
  // Its very last lines. Only once it has ended is a last line without its
  // line end complete; while it runs it may be half written.
  ParseLauncherOutput(file.get(), kTrackedName, /*lastRead=*/ended);
  file.reset();
  if (signals().abortFlag.load()) return Abandoned();  // the interpreter keeps running
  platform::SleepMs(timing.finalPauseMs);
  interpreter->Terminate(0);
  interpreter.reset();
  RaiseFraction(installFraction, 1.0);
  NotifyProgress();
  installDone.Release();
  return 1;
}
