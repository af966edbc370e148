#include "diagnostics/support_error.h"

#include "diagnostics/error_texts.h"

namespace diagnostics {

void ShowSupportError(platform::MessageBoxes& boxes, int code, const char* title) {
  boxes.Show(SupportMessage(code), title, platform::kMessageOk);
}

}  // namespace diagnostics
