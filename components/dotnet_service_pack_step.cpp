#include "components/dotnet_service_pack_step.h"

#include <cstdlib>

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"

namespace components {

namespace {

const DotNetComponentStep::Events kEvents = {
    {diagnostics::kServicePackPrimaryDownloadStarted,
     diagnostics::kServicePackPrimaryDownloadCompleted,
     diagnostics::kServicePackPrimaryDownloadCancelled,
     diagnostics::kServicePackPrimaryDownloadFailed,
     diagnostics::kServicePackSecondaryDownloadStarted,
     diagnostics::kServicePackSecondaryDownloadCompleted,
     diagnostics::kServicePackSecondaryDownloadCancelled,
     diagnostics::kServicePackSecondaryDownloadFailed},
    {diagnostics::kServicePackInstallStarted, diagnostics::kServicePackInstallCompleted,
     diagnostics::kServicePackInstallCancelled, diagnostics::kServicePackInstallFailed}};

// The Active Setup "Version" text of the 1.0 Service Pack ends in its level,
// as in 1,0,3705,1.
int ActiveSetupLevel(const std::string& text) {
  const size_t comma = text.rfind(',');
  if (comma == std::string::npos) return -1;
  return std::atoi(text.c_str() + comma + 1);
}

}  // namespace

DotNetServicePackStep::DotNetServicePackStep(const char* eulaText, const DotNetDownload& download)
    : DotNetComponentStep(eulaText, download, kEvents) {
  Describe("Microsoft .NET Framework Service Pack", 1.5, 2.0, " /q");
}

bool DotNetServicePackStep::IsInstalled() {
  using platform::RegistryRoot;
  bool installed = false;
  uint32_t level = 0;
  const int version = VersionNumber(frameworkVersionCode);
  if (version == 0) {
    std::string text;
    installed = context().registry.ReadString(RegistryRoot::kLocalMachine,
                                              "Software\\Microsoft\\Active Setup\\Installed "
                                              "Components\\{FDC11A6F-17D1-48f9-9EA3-9051954BAA24}",
                                              "Version", 260, &text) &&
                ActiveSetupLevel(text) == 1;
  } else if (version == 1 || version == 2) {
    const char* key = version == 1 ? "Software\\Microsoft\\NET Framework Setup\\NDP\\v1.1.4322"
                                   : "Software\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727";
    installed =
        context().registry.ReadDword(RegistryRoot::kLocalMachine, key, "SP", &level) && level == 1;
  }
  events().Post(installed ? diagnostics::kServicePackInstalled : diagnostics::kServicePackMissing);
  return installed;
}

}  // namespace components
