#include "ui/licence_flow.h"

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "ui/resource_ids.h"

namespace ui {

namespace {

constexpr int kCloseCommand = 2;  // IDCANCEL: the close box, Alt+F4 and Esc

}  // namespace

void LicenceFlow::OnCommand(int command) {
  switch (command) {
    case IDC_ACCEPT:
      window_.EnableOk(true);
      window_.ShowAndFocusOk();
      break;
    case IDC_DECLINE:
      window_.EnableOk(false);
      break;
    case IDC_LICENCE_OK:
      // OK is disabled while decline is chosen; a command that still arrives
      // (a key on the button) must not accept.
      if (!window_.AcceptChecked()) break;
      events_.Post(diagnostics::kEulaAccepted);
      window_.End();
      window_.ShowProgressWindow();
      break;
    case IDC_LICENCE_CANCEL:
      events_.Post(diagnostics::kEulaCancelled);
      window_.PostQuit();
      window_.End();
      break;
    case kCloseCommand:
      events_.Post(diagnostics::kEulaClosed);
      window_.PostQuit();
      window_.End();
      break;
    case IDC_PRIVACY_LINK:
      window_.OpenPrivacyPolicy();
      link_visited_ = true;
      window_.RepaintLink();
      break;
    default:
      break;
  }
}

std::string LicencePaneText(const std::string& text) {
  std::string shown;
  shown.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      shown += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      shown += "\r\n";
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace ui
