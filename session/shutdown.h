// What the end of a run does besides the logger: ending the launcher
// processes, emptying the start-up folder, the cancellation survey.
#pragma once

#include <string>

namespace diagnostics {
class EventSink;
}  // namespace diagnostics

namespace platform {
class MessageBoxes;
}  // namespace platform

namespace session {

// Supported: the NT family before version 6 (NT 4.0, 2000, XP, Server 2003).
bool IsSupportedOs();

// Ends every *AgentLauncher.exe and miniserver.exe with their children
// (taskkill, without waiting); posts 3115, or 3114 when it cannot start.
bool KillChildProcesses(diagnostics::EventSink& events);

// Deletes the files of the start-up folder and then the folder, unless a
// deletion failed. A drive or share root (or an empty setting, which means
// the current drive's) is never touched.
void CleanStartupFolder(const std::string& folder);

// The survey address with every "%t" replaced by the run's id.
std::string SurveyAddress(const std::string& run_id);

// Asks whether the user will take the survey and opens it on Yes.
void OfferSurvey(platform::MessageBoxes& boxes, const std::string& run_id);

}  // namespace session
