// What the .NET Framework and its Service Pack share: a download from a
// primary and a secondary address, a silent installer between the step's own
// events, and a registry check chosen by the targeted Framework version.
#pragma once

#include <string>

#include "components/download_plan.h"
#include "components/step_events.h"
#include "engine/install_step.h"
#include "platform/registry.h"

namespace components {

class DotNetComponentStep : public engine::InstallStep {
 public:
  struct Events {
    FallbackDownloadEvents download;
    InstallEvents install;
  };

  DotNetComponentStep(const char* eulaText, const DotNetDownload& download, const Events& events)
      : InstallStep(engine::DownloadedInstaller(eulaText, download.primary_url, download.directory,
                                                download.fileName, download.md5, download.sha256,
                                                download.signer)),
        secondaryUrl(download.secondaryUrl),
        frameworkVersionCode(download.version_code),
        events_(events) {
    plan_.verify_digest = true;
    plan_.expectedInstallSeconds = 200;
    plan_.requiredMegabytes = 50;
  }

  int Download() override { return DownloadWithFallback(*this, secondaryUrl, events_.download); }
  int Install() override { return InstallWithEvents(*this, events_.install); }

  std::string secondaryUrl;
  std::string frameworkVersionCode;

 protected:
  // The installer in quotation marks: an unquoted path with blanks ("Documents
  // and Settings") would let Windows run a planted C:\Documents.exe instead.
  std::string QuotedLocalPath() const { return "\"" + plan_.localPath + "\""; }

  // Names the step, weighs it on the bar (an installer at hand has nothing to
  // download) and runs the quoted installer with `switches`.
  void Describe(const char* name, double weight_of_download, double weight_of_install,
                const std::string& switches) {
    plan_.displayName = name;
    plan_.downloadWeight = plan_.availableLocally ? 0.0 : weight_of_download;
    plan_.installWeight = weight_of_install;
    plan_.commandLine = QuotedLocalPath() + switches;
  }

 private:
  const Events& events_;  // a constant of the concrete step
};

}  // namespace components
