// The .NET Framework: checked in the registry, fetched from a primary or a
// secondary address, installed silently.
#pragma once

#include <string>

#include "components/dotnet_component_step.h"

class DotNetFrameworkStep : public DotNetComponentStep {
 public:
  DotNetFrameworkStep(const char* eulaText, const std::string& primaryUrl,
                      const std::string& secondaryUrl, const std::string& md5,
                      const std::string& directory, const std::string& fileName,
                      const std::string& versionCode,
                      platform::Registry& registry = platform::SystemRegistry());

  bool IsInstalled() override;
};
