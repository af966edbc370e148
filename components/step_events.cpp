#include "components/step_events.h"

#include <cctype>
#include <string>

#include "diagnostics/event_logger.h"
#include "diagnostics/support_error.h"
#include "engine/install_step.h"
#include "engine/pipeline_signals.h"
#include "platform/message_box.h"

int DownloadWithFallback(InstallStep& step, const std::string& secondaryUrl,
                         const FallbackDownloadEvents& events) {
  PostEvent(events.primaryStarted);
  if (step.DownloadFrom(step.plan().url) == 1) {
    PostEvent(events.primaryCompleted);
    return 1;
  }
  if (step.signals().abortFlag.load()) {
    PostEvent(events.primaryCancelled);
    return events.primaryCancelled;
  }
  PostEvent(events.primaryFailed);
  PostEvent(events.secondaryStarted);
  const int result = step.DownloadFrom(secondaryUrl);
  if (result == 1) {
    PostEvent(events.secondaryCompleted);
    return 1;
  }
  if (step.signals().abortFlag.load()) {
    PostEvent(events.secondaryCancelled);
    return events.secondaryCancelled;
  }
  PostEvent(events.secondaryFailed);
  ShowSupportError(step.messageBoxes(), result, "Download Error");
  return result;
}

int InstallWithEvents(InstallStep& step, const InstallEvents& events) {
  PostEvent(events.started);
  const int result = step.RunPlannedInstaller();
  if (result == 1) {
    PostEvent(events.completed);
  } else if (step.signals().abortFlag.load()) {
    PostEvent(events.cancelled);
  } else {
    PostEvent(events.failed);
  }
  return result;
}

int VersionNumber(const std::string& code) {
  int value = 0;
  for (char c : code) {
    if (!std::isdigit(static_cast<unsigned char>(c))) break;
    value = value * 10 + (c - '0');
    if (value > 100000) break;  // a version code is small; stop before overflow
  }
  return value;
}
