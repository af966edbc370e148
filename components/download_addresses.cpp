// The plan's five addresses, which bootpack check tries; the bootstrapper
// itself fetches them step by step, so this stays out of its executable.
#include "components/download_plan.h"

namespace components {

std::vector<PlannedDownload> DownloadPlan::Addresses() const {
  return {
      {"dotnet.primary", framework.primary_url, framework.md5, framework.sha256, framework.signer,
       "", true},
      {"dotnet.secondary", framework.secondaryUrl, framework.md5, framework.sha256,
       framework.signer, "", false},
      {"servicepack.primary", service_pack.primary_url, service_pack.md5, service_pack.sha256,
       service_pack.signer, "", true},
      {"servicepack.secondary", service_pack.secondaryUrl, service_pack.md5, service_pack.sha256,
       service_pack.signer, "", false},
      {"agent", agent.url, "", agent.sha256, agent.signer, agent.leading_bytes, true},
  };
}

}  // namespace components
