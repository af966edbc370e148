#include "engine/step_plan.h"

#include "engine/file_digest.h"
#include "platform/files.h"

namespace engine {

namespace {

// Whether a file found at `path` may stand in for the download: never when a
// signer is configured (the signature is checked on what arrives).
bool IsUsableCopy(const std::string& path, const std::string& md5, const std::string& sha256,
                  const std::string& signer) {
  return signer.empty() && platform::PathExists(path) && !Md5Differs(path, md5) &&
         !DigestDiffers(path, platform::DigestAlgorithm::kSha256, sha256);
}

}  // namespace

StepPlan StepWithLicence(const char* eulaText) {
  StepPlan plan;
  plan.eulaText = eulaText;
  return plan;
}

StepPlan DownloadedInstaller(const char* eulaText, const std::string& url,
                             const std::string& directory, const std::string& fileName,
                             const std::string& md5, const std::string& sha256,
                             const std::string& signer) {
  StepPlan plan;
  plan.eulaText = eulaText;
  plan.url = url;
  plan.fileName = fileName;
  plan.md5 = md5;
  plan.sha256 = sha256;
  plan.signer = signer;
  const std::string prereq = "prereq\\" + fileName;
  if (IsUsableCopy(prereq, md5, sha256, signer)) {
    plan.localPath = prereq;
    plan.availableLocally = true;
    return plan;
  }
  plan.localPath = platform::JoinPath(directory, fileName);
  plan.availableLocally = IsUsableCopy(plan.localPath, md5, sha256, signer);
  return plan;
}

}  // namespace engine
