// The box that tells the user an error stopped the installation and gives the
// code to quote to support.
#pragma once

#include "platform/message_box.h"

namespace diagnostics {

// Shows SupportMessage(code) with an OK button and no owner window; returns
// once the user has dismissed it.
void ShowSupportError(platform::MessageBoxes& boxes, int code, const char* title);

}  // namespace diagnostics
