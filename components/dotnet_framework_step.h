// The .NET Framework: checked in the registry, fetched from a primary or a
// secondary address, installed silently.
#pragma once

#include <string>

#include "components/dotnet_component_step.h"

namespace components {

class DotNetFrameworkStep : public DotNetComponentStep {
 public:
  DotNetFrameworkStep(const char* eulaText, const DotNetDownload& download);

  bool IsInstalled() override;
};

}  // namespace components
