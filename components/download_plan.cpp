#include "components/download_plan.h"

std::string MsiSignature() { return std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8); }

DownloadPlan PlanDownloads(const Settings& settings, const std::string& directory) {
  const std::string version_code = settings.get(DOTNETFRAMEWORKVERSION);
  DownloadPlan plan;
  plan.framework = {settings.get(DOTNETFRAMEWORK_PRIMARY_URL),
                    settings.get(DOTNETFRAMEWORK_SECONDARY_URL),
                    settings.get(DOTNETFRAMEWORK_MD5_KEY),
                    directory,
                    "dotnetfx.exe",
                    version_code};
  plan.service_pack = {settings.get(DOTNETFRAMEWORK_SERVICEPACK_PRIMARY_URL),
                      settings.get(DOTNETFRAMEWORK_SERVICEPACK_SECONDARY_URL),
                      settings.get(DOTNETSERVICEPACK_MD5_KEY),
                      directory,
                      "dotnetServicePack.exe",
                      version_code};
  plan.agent = {settings.get(TORVANEAGENTURL), directory, "TorvaneAgent.msi"};
  return plan;
}
