#include "components/download_plan.h"

#include "platform/ascii.h"

namespace components {

std::string MsiSignature() { return std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8); }

namespace {

// A SHA-256 key may be written in either case; the computed digest is lower case.
std::string Sha256Key(const payload::Settings& settings, payload::SettingId slot) {
  return platform::AsciiLower(settings.get(slot));
}

// The settings one .NET component reads, and the file it is kept in.
struct DotNetKeys {
  payload::SettingId primary, secondary, md5, sha256, signer;
  const char* file_name;
};

constexpr DotNetKeys kFrameworkKeys = {
    payload::DOTNETFRAMEWORK_PRIMARY_URL, payload::DOTNETFRAMEWORK_SECONDARY_URL,
    payload::DOTNETFRAMEWORK_MD5_KEY,     payload::DOTNETFRAMEWORK_SHA256_KEY,
    payload::DOTNETFRAMEWORK_SIGNER,      "dotnetfx.exe"};
constexpr DotNetKeys kServicePackKeys = {payload::DOTNETFRAMEWORK_SERVICEPACK_PRIMARY_URL,
                                         payload::DOTNETFRAMEWORK_SERVICEPACK_SECONDARY_URL,
                                         payload::DOTNETSERVICEPACK_MD5_KEY,
                                         payload::DOTNETSERVICEPACK_SHA256_KEY,
                                         payload::DOTNETSERVICEPACK_SIGNER,
                                         "dotnetServicePack.exe"};

DotNetDownload PlanDotNet(const payload::Settings& settings, const DotNetKeys& keys,
                          const std::string& directory) {
  return {settings.get(keys.primary),
          settings.get(keys.secondary),
          settings.get(keys.md5),
          directory,
          keys.file_name,
          settings.get(payload::DOTNETFRAMEWORKVERSION),
          Sha256Key(settings, keys.sha256),
          settings.get(keys.signer)};
}

}  // namespace

DownloadPlan PlanDownloads(const payload::Settings& settings, const std::string& directory) {
  DownloadPlan plan;
  plan.framework = PlanDotNet(settings, kFrameworkKeys, directory);
  plan.service_pack = PlanDotNet(settings, kServicePackKeys, directory);
  plan.agent = {settings.get(payload::TORVANEAGENTURL), directory, "TorvaneAgent.msi",
                Sha256Key(settings, payload::TORVANEAGENT_SHA256_KEY),
                settings.get(payload::TORVANEAGENT_SIGNER)};
  return plan;
}

}  // namespace components
