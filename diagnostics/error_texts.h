// Texts for HTTP statuses, installer exit codes and the user's support message,
// and the last error text that the four error events carry.
#pragma once

#include <string>

#include "diagnostics/event_catalog.h"

// Stores the category's prefix followed by `message` for 9058, 9059, 9060 and
// 9063; any other id changes nothing.
void SetLastErrorText(EventId category, const std::string& message);
std::string LastErrorText();

// Stores the error text and posts the event as one step, so that two threads
// reporting errors at once never swap their texts.
void PostErrorEvent(EventId category, const std::string& message);

std::string DescribeHttpStatus(int code);
std::string DescribeInstallerExitCode(int code);
// The message box text that asks the user to contact support, with the code.
std::string SupportMessage(int error_code);
