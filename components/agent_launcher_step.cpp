#include "components/agent_launcher_step.h"

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "diagnostics/support_error.h"
#include "engine/pipeline_signals.h"
#include "payload/cookie_file.h"
#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/message_box.h"

namespace components {

namespace {

constexpr char kOutputFile[] = "BrindleAgentLauncherOutput.txt";
constexpr char kLauncherSuffix[] = "agentlauncher.exe";

}  // namespace

std::string FindAgentLauncher(const std::string& runtime_path) {
  std::vector<platform::FolderEntry> entries;
  if (!platform::ListFolder(runtime_path, &entries)) return std::string();
  for (const platform::FolderEntry& entry : entries) {
    if (!entry.is_folder && platform::EndsWithIgnoringCase(entry.name, kLauncherSuffix)) {
      // An installer writes the folder with a trailing backslash; JoinPath keeps one.
      return platform::JoinPath(runtime_path, entry.name);
    }
  }
  return std::string();
}

AgentLauncherStep::AgentLauncherStep(const char* eulaText, const std::string& deskId,
                                     const std::string& desk_install_value,
                                     const std::string& contentId, const std::string& outputFolder,
                                     const std::vector<std::string>& dependencies)
    : LauncherWatchStep(eulaText, outputFolder),
      deskId(deskId),
      deskInstall(desk_install_value != "0"),
      dependencies(dependencies) {
  contentName = contentId;
}

std::string AgentLauncherStep::ReadRuntimePath() {
  std::string path;
  if (context().registry.ReadString(platform::RegistryRoot::kCurrentUser, "SOFTWARE\\Torvane",
                                    "RuntimePath", 260, &path) ||
      context().registry.ReadString(platform::RegistryRoot::kLocalMachine, "SOFTWARE\\Ostrand",
                                    "RuntimePath", 260, &path)) {
    return path;
  }
  return std::string();
}

std::string AgentLauncherStep::BuildLauncherArguments() {
  std::string arguments;
  for (const std::string& dependency : dependencies) arguments += " -w " + dependency;
  // The separators are the launcher's own; their double blanks are kept.
  if (deskInstall) {
    arguments += " ";
    arguments += " -q -i " + deskId + " -s " + deskId + " " + "-i " + contentName;
    trackedWeight = 0.0;
    componentWeight = 1.0;
    tracked_name = deskId;
  } else {
    arguments += " ";
    arguments += " -q -i " + contentName + " " + " -w " + contentName + " " + " -s " + contentName;
    trackedWeight = 0.5;
    componentWeight = 0.5;
    output.deskPercent = 100;
    tracked_name = payload::unquote(contentName);
  }
  return arguments;
}

int AgentLauncherStep::Install() {
  events().Post(diagnostics::kAgentLaunchStarted);
  progress_.phase = 2;
  progress_.Notify();
  if (deskId.empty() || contentName == "\"\"") {
    events().Post(diagnostics::kAgentLaunchParametersInvalid);
    return diagnostics::kAgentLaunchParametersInvalid;
  }
  const std::string runtime_path = ReadRuntimePath();
  if (runtime_path.empty()) {
    events().Post(diagnostics::kAgentFolderNotFound);
    return diagnostics::kAgentFolderNotFound;
  }
  std::string arguments = BuildLauncherArguments();
  const std::string launcher = FindAgentLauncher(runtime_path);
  if (launcher.empty()) {
    events().Post(diagnostics::kAgentLauncherNotFound);
    return diagnostics::kAgentLauncherNotFound;
  }
  // Quoted: the working directory lies under the user's profile, whose path
  // usually holds blanks, and an unquoted redirection would stop at the first.
  const std::string output_path = platform::JoinPath(outputFolder, kOutputFile);
  arguments += " -ld c > \"" + output_path + "\"";
  // A cancel confirmed while the launcher was being looked for starts nothing.
  if (signals().abortFlag.load()) return Abandoned();
  std::unique_ptr<platform::Process> interpreter =
      StartInterpreter(" /C \"\"" + launcher + "\" " + arguments + "\"");
  if (!interpreter) {
    events().Post(diagnostics::kAgentLaunchFailed);
    return diagnostics::kAgentLaunchFailed;
  }
  WaitForProgramToAppear(*interpreter);
  platform::UniqueFile file = platform::OpenFile(output_path, "rb");

  // 45 quiet polls give at most 15 advances per quiet phase.
  SlowAdvance slow{SlowAdvance::Limits::kQuietPolls, 45};
  while (IsChildRunning(*interpreter)) {
    if (signals().abortFlag.load()) return Abandoned();  // the launcher keeps running
    ParseLauncherOutput(file.get(), tracked_name);
    if (MoveBar(slow) && slow.quiet_polls >= timing.idle_timeout_polls) {
      return TimeOut(std::move(file), *interpreter);
    }
    context().clock.SleepMs(timing.poll_ms);
  }
  // What the launcher wrote after the last poll, an Error line just before it
  // ended or a last line without its line end among it, counts as well.
  ParseLauncherOutput(file.get(), tracked_name, /*last_read=*/true);
  RaiseToLaunchProgress();
  file.reset();
  interpreter.reset();
  // The launcher has ended on its own, so a cancel confirmed since comes too
  // late to undo the launch; only its own Error line abandons it.
  if (ErrorLineSeen()) return Abandoned();
  events().Post(diagnostics::kAgentLaunched);
  progress_.installDone.Release();
  return 1;
}

int AgentLauncherStep::Abandoned() {
  events().Post(diagnostics::kAgentLaunchCancelled);
  return diagnostics::kAgentLaunchCancelled;
}

int AgentLauncherStep::TimeOut(platform::UniqueFile file, platform::Process& interpreter) {
  file.reset();
  interpreter.Terminate(0);
  events().Post(diagnostics::kAgentLaunchTimedOut);
  diagnostics::ShowSupportError(boxes(), diagnostics::kAgentLaunchTimedOut, "Installation Error");
  return diagnostics::kAgentLaunchTimedOut;
}

}  // namespace components
