#include "components/download_plan.h"

namespace components {

std::string MsiSignature() { return std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8); }

DownloadPlan PlanDownloads(const payload::Settings& settings, const std::string& directory) {
  const std::string version_code = settings.get(payload::DOTNETFRAMEWORKVERSION);
  DownloadPlan plan;
  plan.framework = {settings.get(payload::DOTNETFRAMEWORK_PRIMARY_URL),
                    settings.get(payload::DOTNETFRAMEWORK_SECONDARY_URL),
                    settings.get(payload::DOTNETFRAMEWORK_MD5_KEY),
                    directory,
                    "dotnetfx.exe",
                    version_code};
  plan.service_pack = {settings.get(payload::DOTNETFRAMEWORK_SERVICEPACK_PRIMARY_URL),
                       settings.get(payload::DOTNETFRAMEWORK_SERVICEPACK_SECONDARY_URL),
                       settings.get(payload::DOTNETSERVICEPACK_MD5_KEY),
                       directory,
                       "dotnetServicePack.exe",
                       version_code};
  plan.agent = {settings.get(payload::TORVANEAGENTURL), directory, "TorvaneAgent.msi"};
  return plan;
}

}  // namespace components
