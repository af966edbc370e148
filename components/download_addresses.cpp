// The plan's five addresses, which bootpack check tries; the bootstrapper
// itself fetches them step by step, so this stays out of its executable.
#include "components/download_plan.h"

namespace components {

std::vector<PlannedDownload> DownloadPlan::Addresses() const {
  return {
      {"dotnet.primary", framework.primary_url, framework.md5, "", true},
      {"dotnet.secondary", framework.secondaryUrl, framework.md5, "", false},
      {"servicepack.primary", service_pack.primary_url, service_pack.md5, "", true},
      {"servicepack.secondary", service_pack.secondaryUrl, service_pack.md5, "", false},
      // The agent's key in the file is never compared; at least a web page
      // must not pass for the package.
      {"agent", agent.url, "", MsiSignature(), true},
  };
}

}  // namespace components
