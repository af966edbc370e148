#include "components/step_events.h"

#include <cctype>
#include <string>

#include "diagnostics/event_sink.h"
#include "diagnostics/support_error.h"
#include "engine/install_step.h"
#include "engine/pipeline_signals.h"
#include "platform/message_box.h"

namespace components {

int DownloadWithFallback(engine::InstallStep& step, const std::string& secondaryUrl,
                         const FallbackDownloadEvents& events) {
  step.events().Post(events.primary_started);
  if (step.DownloadFrom(step.plan().url) == 1) {
    step.events().Post(events.primary_completed);
    return 1;
  }
  if (step.signals().abortFlag.load()) {
    step.events().Post(events.primary_cancelled);
    return events.primary_cancelled;
  }
  step.events().Post(events.primary_failed);
  step.events().Post(events.secondary_started);
  const int result = step.DownloadFrom(secondaryUrl);
  if (result == 1) {
    step.events().Post(events.secondary_completed);
    return 1;
  }
  if (step.signals().abortFlag.load()) {
    step.events().Post(events.secondary_cancelled);
    return events.secondary_cancelled;
  }
  step.events().Post(events.secondary_failed);
  diagnostics::ShowSupportError(step.boxes(), result, "Download Error");
  return result;
}

int InstallWithEvents(engine::InstallStep& step, const InstallEvents& events) {
  step.events().Post(events.started);
  const int result = step.RunPlannedInstaller();
  if (result == 1) {
    step.events().Post(events.completed);
  } else if (step.signals().abortFlag.load()) {
    step.events().Post(events.cancelled);
  } else {
    step.events().Post(events.failed);
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

}  // namespace components
