// The agent's MSI package: asked of the Windows Installer by product code,
// always downloaded afresh, installed silently by msiexec.
#pragma once

#include <string>

#include "components/download_plan.h"
#include "engine/install_step.h"
#include "platform/msi.h"

namespace components {

class AgentPackageStep : public engine::InstallStep {
 public:
  AgentPackageStep(const char* eulaText, const AgentDownload& download,
                   const std::string& productCode);

  int Download() override;
  int Install() override;
  bool IsInstalled() override;
  bool EulaComesFirst() override { return true; }

  std::string productCode;
};

// The msiexec command line for a package (msiexec by its full path).
std::string MsiexecCommandLine(const std::string& package_path);

}  // namespace components
