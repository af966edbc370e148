// The last step of an ordinary run: the agent's launcher for the game, run
// through the command interpreter and followed through its output file.
#pragma once

#include <string>
#include <vector>

#include "components/launcher_watch_step.h"
#include "platform/registry.h"

namespace components {

class AgentLauncherStep : public LauncherWatchStep {
 public:
  AgentLauncherStep(const char* eulaText, const std::string& deskId,
                    const std::string& desk_install_value, const std::string& contentId,
                    const std::string& outputFolder, const std::vector<std::string>& dependencies);

  // 1 when the launcher has ended; 7002, 7004, 7006, 7007, 7009 or 7010.
  int Install() override;

  // The launcher's arguments before the output redirection; also sets the
  // weights and the tracked name they imply.
  std::string BuildLauncherArguments();
  // The agent's installation folder from the registry; empty when unknown.
  std::string ReadRuntimePath();

  std::string deskId;
  bool deskInstall = true;
  std::vector<std::string> dependencies;
  std::string tracked_name;

 private:
  // The installation is being abandoned (a cancel, or an Error line): 7009.
  int Abandoned();
  int TimeOut(platform::UniqueFile file, platform::Process& interpreter);
};

// The first "*AgentLauncher.exe" in a folder; empty when there is none.
std::string FindAgentLauncher(const std::string& runtime_path);

}  // namespace components
