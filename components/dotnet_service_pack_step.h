// The .NET Framework Service Pack: level 1 of the targeted Framework version.
#pragma once

#include <string>

#include "components/dotnet_component_step.h"

namespace components {

class DotNetServicePackStep : public DotNetComponentStep {
 public:
  DotNetServicePackStep(const char* eulaText, const DotNetDownload& download);

  bool IsInstalled() override;
};

}  // namespace components
