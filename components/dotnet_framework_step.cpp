#include "components/dotnet_framework_step.h"

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"

namespace components {

namespace {

const DotNetComponentStep::Events kEvents = {
    {diagnostics::kDotNetPrimaryDownloadStarted, diagnostics::kDotNetPrimaryDownloadCompleted,
     diagnostics::kDotNetPrimaryDownloadCancelled, diagnostics::kDotNetPrimaryDownloadFailed,
     diagnostics::kDotNetSecondaryDownloadStarted, diagnostics::kDotNetSecondaryDownloadCompleted,
     diagnostics::kDotNetSecondaryDownloadCancelled, diagnostics::kDotNetSecondaryDownloadFailed},
    {diagnostics::kDotNetInstallStarted, diagnostics::kDotNetInstallCompleted,
     diagnostics::kDotNetInstallCancelled, diagnostics::kDotNetInstallFailed}};

const char kVersion10Switches[] =
    " /q:a /c:\"install.exe /u /p Microsoft .NET Framework Full v1.0.3705 (1033) /q\"";
const char kSwitches[] = " /q:a /c:\"install /l /q\"";

}  // namespace

DotNetFrameworkStep::DotNetFrameworkStep(const char* eulaText, const DotNetDownload& download)
    : DotNetComponentStep(eulaText, download, kEvents) {
  Describe("Microsoft .NET Framework", 2.0, 3.0,
           frameworkVersionCode == "0" ? kVersion10Switches : kSwitches);
}

bool DotNetFrameworkStep::IsInstalled() {
  using platform::RegistryRoot;
  bool installed = false;
  uint32_t value = 0;
  std::string bytes;
  switch (VersionNumber(frameworkVersionCode)) {
    case 0:
      installed = context().registry.ReadValue(RegistryRoot::kLocalMachine,
                                               "Software\\Microsoft\\.NETFramework\\Policy\\v1.0",
                                               "3705", 260, &bytes);
      break;
    case 2:
      installed =
          context().registry.ReadDword(RegistryRoot::kLocalMachine,
                                       "Software\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727",
                                       "Install", &value) &&
          value == 1;
      break;
    default:
      installed =
          context().registry.ReadDword(RegistryRoot::kLocalMachine,
                                       "Software\\Microsoft\\NET Framework Setup\\NDP\\v1.1.4322",
                                       "Install", &value) &&
          value == 1;
      break;
  }
  events().Post(installed ? diagnostics::kDotNetInstalled : diagnostics::kDotNetMissing);
  return installed;
}

}  // namespace components
