// Texts for HTTP statuses, installer exit codes and the user's support message,
// and the last error text that the four error events carry.
#pragma once

#include <cstdint>
#include <string>

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"

namespace diagnostics {

// Stores the category's prefix followed by `message` for 9058 ("HTTP ERROR: "),
// 9059 ("System ERROR: "), 9060 ("INSTALLATION ERROR: ") and 9063 ("Event: ");
// any other id changes nothing. Safe from any thread.
void SetLastErrorText(EventId category, const std::string& message);
std::string LastErrorText();

// Stores the error text and posts the event as one step, so that the download
// and install threads reporting errors at once never swap their texts. Use it
// rather than SetLastErrorText followed by PostEvent.
void PostErrorEvent(EventSink& events, EventId category, const std::string& message);

// A system call the run cannot do without failed (a wait, a thread start):
// posts 9059 "System ERROR: <what> failed with error <code>".
void PostSystemError(EventSink& events, const char* what, uint32_t code);

// The text for an HTTP status, or for 12007 (name not resolved) a copy of the
// current LastErrorText; "Unknown error has occured" for anything else.
std::string DescribeHttpStatus(int code);
// The text for an installer's exit code, success codes included; "UNKNOWN
// ERROR: Installation Failed" for a code not in the table.
std::string DescribeInstallerExitCode(int code);
// The message box text that asks the user to contact support, with the code.
// Windows-1252: the apostrophe is byte 0x92.
std::string SupportMessage(int error_code);

}  // namespace diagnostics
