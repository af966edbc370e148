#include "components/download_plan.h"

#include "platform/ascii.h"

namespace components {

std::string MsiSignature() { return std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8); }

namespace {

// A SHA-256 key may be written in either case; the computed digest is lower case.
std::string Sha256Key(const payload::Settings& settings, payload::SettingId slot) {
  return platform::AsciiLower(settings.get(slot));
}

}  // namespace

DownloadPlan PlanDownloads(const payload::Settings& settings, const std::string& directory) {
  const std::string version_code = settings.get(payload::DOTNETFRAMEWORKVERSION);
  DownloadPlan plan;
  plan.framework = {settings.get(payload::DOTNETFRAMEWORK_PRIMARY_URL),
                    settings.get(payload::DOTNETFRAMEWORK_SECONDARY_URL),
                    settings.get(payload::DOTNETFRAMEWORK_MD5_KEY),
                    directory,
                    "dotnetfx.exe",
                    version_code,
                    Sha256Key(settings, payload::DOTNETFRAMEWORK_SHA256_KEY),
                    settings.get(payload::DOTNETFRAMEWORK_SIGNER)};
  plan.service_pack = {settings.get(payload::DOTNETFRAMEWORK_SERVICEPACK_PRIMARY_URL),
                       settings.get(payload::DOTNETFRAMEWORK_SERVICEPACK_SECONDARY_URL),
                       settings.get(payload::DOTNETSERVICEPACK_MD5_KEY),
                       directory,
                       "dotnetServicePack.exe",
                       version_code,
                       Sha256Key(settings, payload::DOTNETSERVICEPACK_SHA256_KEY),
                       settings.get(payload::DOTNETSERVICEPACK_SIGNER)};
  plan.agent = {settings.get(payload::TORVANEAGENTURL), directory, "TorvaneAgent.msi",
                Sha256Key(settings, payload::TORVANEAGENT_SHA256_KEY),
                settings.get(payload::TORVANEAGENT_SIGNER)};
  return plan;
}

}  // namespace components
