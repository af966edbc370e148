// The event pattern the prerequisite steps share: a download from a primary
// and a secondary address, and an install between its own events.
#pragma once

#include "diagnostics/event_catalog.h"

namespace engine {
class InstallStep;
}  // namespace engine

namespace components {

struct FallbackDownloadEvents {
  diagnostics::EventId primary_started, primary_completed, primary_cancelled, primary_failed;
  diagnostics::EventId secondary_started, secondary_completed, secondary_cancelled,
      secondary_failed;
};

// The step's installer from its primary address, then from `secondaryUrl`; after both failed the
// "Download Error" box with the support message. Returns 1, the cancel event or
// the last failure code.
int DownloadWithFallback(engine::InstallStep& step, const std::string& secondaryUrl,
                         const FallbackDownloadEvents& events);

struct InstallEvents {
  diagnostics::EventId started, completed, cancelled, failed;
};

// The step's installer run between its events; returns what the run returned.
int InstallWithEvents(engine::InstallStep& step, const InstallEvents& events);

// The integer value of a version code's leading digits (empty or non-numeric: 0).
int VersionNumber(const std::string& code);

}  // namespace components
