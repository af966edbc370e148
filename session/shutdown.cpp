#include "session/shutdown.h"

#include <vector>

#include "diagnostics/deployment.h"
#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/shell.h"
#include "platform/system.h"

namespace session {

bool IsSupportedOs() {
  const platform::OsVersion version = platform::ReadOsVersion();
  return version.platform_id == 2 && version.major < 6;
}

bool KillChildProcesses(diagnostics::EventSink& events) {
  // By its full path: a bare name is searched in the executable's own folder
  // first, which is usually Downloads; and an unknown system folder would
  // make it \taskkill.exe, a program anyone could put at the drive's root.
  const std::string system = platform::SystemFolder();
  const bool started =
      !system.empty() &&
      platform::ShellOpen(platform::JoinPath(system, "taskkill.exe"),
                          " /t /f /im *AgentLauncher.exe /im miniserver.exe", true);
  events.Post(started ? diagnostics::kChildProcessesTerminated
                      : diagnostics::kChildProcessesNotTerminated);
  return true;
}

void CleanStartupFolder(const std::string& folder) {
  // An empty setting names the drive's root, and a relative one such as "."
  // the current folder (a root when run from C:\ or a CD): neither is emptied.
  if (platform::IsRootOrCurrentFolder(folder)) return;
  std::vector<platform::FolderEntry> entries;
  int failures = 0;
  if (platform::ListFolder(folder, &entries)) {
    for (const platform::FolderEntry& entry : entries) {
      if (entry.is_folder) continue;  // sub-folders are left alone
      if (!platform::RemoveFile(platform::JoinPath(folder, entry.name))) ++failures;
    }
  }
  if (failures == 0) platform::RemoveFolder(folder);  // fails harmlessly when not empty
}

std::string SurveyAddress(const std::string& run_id) {
  std::string address = diagnostics::kSurveyAddress;
  for (size_t at = address.find("%t"); at != std::string::npos;
       at = address.find("%t", at + run_id.size())) {
    address.replace(at, 2, run_id);
  }
  return address;
}

void OfferSurvey(platform::MessageBoxes& boxes, const std::string& run_id) {
  const int answer = boxes.Show(
      "We are sorry that you have decided to cancel your Kestrel install.\r\nWould you like to "
      "fill out a short survey to provide feedback about your install experience?",
      "Abort Installation", platform::kMessageYesNo | platform::kMessageIconQuestion);
  if (answer == platform::kAnswerYes) platform::ShellOpen(SurveyAddress(run_id), "", false);
}

}  // namespace session
