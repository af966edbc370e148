#include "engine/step_plan.h"

#include "engine/file_md5.h"
#include "platform/files.h"

namespace engine {

StepPlan StepWithLicence(const char* eulaText) {
  StepPlan plan;
  plan.eulaText = eulaText;
  return plan;
}

StepPlan DownloadedInstaller(const char* eulaText, const std::string& url,
                             const std::string& directory, const std::string& fileName,
                             const std::string& md5) {
  StepPlan plan;
  plan.eulaText = eulaText;
  plan.url = url;
  plan.fileName = fileName;
  plan.md5 = md5;
  const std::string prereq = "prereq\\" + fileName;
  if (platform::PathExists(prereq) && !Md5Differs(prereq, md5)) {
    plan.localPath = prereq;
    plan.availableLocally = true;
    return plan;
  }
  plan.localPath = platform::JoinPath(directory, fileName);
  plan.availableLocally = platform::PathExists(plan.localPath) && !Md5Differs(plan.localPath, md5);
  return plan;
}

}  // namespace engine
