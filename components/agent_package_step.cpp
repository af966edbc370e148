#include "components/agent_package_step.h"

#include "components/step_events.h"
#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "diagnostics/support_error.h"
#include "engine/downloader.h"
#include "engine/pipeline_signals.h"
#include "platform/files.h"
#include "platform/message_box.h"

namespace components {

namespace {
constexpr int kInstalledState = 5;  // INSTALLSTATE_DEFAULT
constexpr InstallEvents kInstallEvents = {
    diagnostics::kAgentInstallStarted, diagnostics::kAgentInstallCompleted,
    diagnostics::kAgentInstallCancelled, diagnostics::kAgentInstallFailed};
}  // namespace

std::string MsiexecCommandLine(const std::string& package_path) {
  // By its full path: a bare "msiexec" is searched in the executable's own
  // folder first, which is usually Downloads.
  return "\"" + platform::JoinPath(platform::SystemFolder(), "msiexec.exe") + "\" /i \"" +
         package_path + "\" /qn REBOOT=ReallySuppress";
}

AgentPackageStep::AgentPackageStep(const char* eulaText, const AgentDownload& download,
                                   const std::string& productCode)
    : InstallStep(engine::DownloadedInstaller(eulaText, download.url, download.directory,
                                              download.fileName, "", download.sha256,
                                              download.signer)),
      productCode(productCode) {
  plan_.availableLocally = false;  // the package is always fetched afresh
  plan_.displayName = "Brindle Agent";
  plan_.downloadWeight = 1.0;
  plan_.expectedInstallSeconds = 15;
  plan_.requiredMegabytes = 65;
  plan_.commandLine = MsiexecCommandLine(plan_.localPath);
  plan_.leading_bytes = download.leading_bytes;
}

int AgentPackageStep::Download() {
  events().Post(diagnostics::kAgentDownloadStarted);
  const int result = DownloadFrom(plan_.url);
  if (result == 1) {
    events().Post(diagnostics::kAgentDownloadCompleted);
  } else {
    events().Post(signals().abortFlag.load() ? diagnostics::kAgentDownloadCancelled
                                             : diagnostics::kAgentDownloadFailed);
  }
  return result;
}

int AgentPackageStep::Install() { return InstallWithEvents(*this, kInstallEvents); }

bool AgentPackageStep::IsInstalled() {
  int state = -1;
  uint32_t error = 0;
  if (context().installer.QueryProductState(productCode, &state, &error) !=
      platform::WindowsInstaller::Outcome::kAnswered) {
    // Without the Windows Installer nothing can be installed: abandon at once.
    AbortInstallation(signals());
    diagnostics::ShowSupportError(boxes(), static_cast<int>(error), "Installation Error");
    return false;
  }
  const bool installed = state == kInstalledState;
  events().Post(installed ? diagnostics::kAgentInstalled : diagnostics::kAgentMissing);
  return installed;
}

}  // namespace components
