// The .NET Framework Service Pack: level 1 of the targeted Framework version.
#pragma once

#include <string>

#include "engine/install_step.h"
#include "platform/registry.h"

class DotNetServicePackStep : public InstallStep {
 public:
  DotNetServicePackStep(const char* eulaText, const std::string& primaryUrl,
                        const std::string& secondaryUrl, const std::string& md5,
                        const std::string& directory, const std::string& fileName,
                        const std::string& versionCode,
                        platform::Registry& registry = platform::SystemRegistry());

  int Download() override;
  int Install() override;
  bool IsInstalled() override;

  std::string secondaryUrl;
  std::string frameworkVersionCode;

 private:
  platform::Registry& registry_;
};
