// The numbered events and their fixed English descriptions.
#pragma once

#include <cstdint>
#include <string>

namespace diagnostics {

using EventId = int32_t;

// kLaunched = 3000 and so on, one name per row of the event table.
#define KESTREL_EVENT(name, id, text) constexpr EventId name = id;
#include "diagnostics/event_table.h"
#undef KESTREL_EVENT

// Not an event: PostEvent takes it as the command that switches reporting on.
constexpr EventId kStartReportingCommand = 9999;

namespace EventCatalog {
// The description of an event; "Event Not defined." for an unknown id. The
// four error ids 9058, 9059, 9060 and 9063 carry the current LastErrorText.
std::string Describe(EventId id);
}  // namespace EventCatalog

}  // namespace diagnostics
