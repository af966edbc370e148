// Start-up's reading of CONFIG.TXT: the events around it, and the log server
// and build watermark it hands to the logger.
#pragma once

#include "payload/settings.h"

namespace diagnostics {
class EventLogger;
}  // namespace diagnostics

namespace payload {
class PayloadReader;
}  // namespace payload

namespace session {

// Posts 3010, reads the payload's configuration, reports each watermark (3021)
// and names the log server to the logger, then posts 3019, or 3020 when the
// payload has no configuration.
payload::Configuration LoadConfiguration(const payload::PayloadReader& reader,
                                         diagnostics::EventLogger& logger);

}  // namespace session
