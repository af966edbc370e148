// What the .NET Framework and its Service Pack share: a download from a
// primary and a secondary address, a silent installer between the step's own
// events, and a registry check chosen by the targeted Framework version.
#pragma once

#include <string>

#include "components/step_events.h"
#include "engine/install_step.h"
#include "platform/registry.h"

class DotNetComponentStep : public InstallStep {
 public:
  struct Events {
    FallbackDownloadEvents download;
    InstallEvents install;
  };

  DotNetComponentStep(const char* eulaText, const std::string& primaryUrl,
                      const std::string& secondaryUrl, const std::string& md5,
                      const std::string& directory, const std::string& fileName,
                      const std::string& versionCode, platform::Registry& registry,
                      const Events& events)
      : InstallStep(eulaText, primaryUrl, directory, fileName, md5),
        secondaryUrl(secondaryUrl),
        frameworkVersionCode(versionCode),
        registry_(registry),
        events_(events) {
    expectedInstallSeconds = 200;
    requiredMegabytes = 50;
  }

  int Download() override { return DownloadWithFallback(*this, secondaryUrl, events_.download); }
  int Install() override { return InstallWithEvents(*this, events_.install); }

  std::string secondaryUrl;
  std::string frameworkVersionCode;

 protected:
  // The installer in quotation marks: an unquoted path with blanks ("Documents
  // and Settings") would let Windows run a planted C:\Documents.exe instead.
  std::string QuotedLocalPath() const { return "\"" + localPath + "\""; }

  platform::Registry& registry_;

 private:
  const Events& events_;  // a constant of the concrete step
};
