// The plan's five addresses, which bootpack check tries; the bootstrapper
// itself fetches them step by step, so this stays out of its executable.
#include "components/download_plan.h"

std::vector<PlannedDownload> DownloadPlan::Addresses() const {
  return {
      {"dotnet.primary", framework.primaryUrl, framework.md5, "", true},
      {"dotnet.secondary", framework.secondaryUrl, framework.md5, "", false},
      {"servicepack.primary", servicePack.primaryUrl, servicePack.md5, "", true},
      {"servicepack.secondary", servicePack.secondaryUrl, servicePack.md5, "", false},
      // The agent's key in the file is never compared; at least a web page
      // must not pass for the package.
      {"agent", agent.url, "", MsiSignature(), true},
  };
}
