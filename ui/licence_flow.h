// The licence window's decisions: the accept and decline choices, OK and
// Cancel, the close box and the privacy-policy link. The dialog procedure
// forwards its commands here and carries out what the flow asks.
#pragma once

#include <cstdint>
#include <string>

namespace diagnostics {
class EventSink;
}  // namespace diagnostics

namespace ui {

// What the flow asks of the window on screen.
class LicenceWindow {
 public:
  virtual ~LicenceWindow() = default;
  virtual bool AcceptChecked() = 0;
  virtual void EnableOk(bool enable) = 0;
  virtual void ShowAndFocusOk() = 0;
  // Ends this window's modal loop; the window itself goes once the loop returns.
  virtual void End() = 0;
  virtual void PostQuit() = 0;
  // Opens the privacy-policy page with the default handler; failures ignored.
  virtual void OpenPrivacyPolicy() = 0;
  virtual void RepaintLink() = 0;
  // Opens the progress window modally; returns when it has ended.
  virtual void ShowProgressWindow() = 0;
};

constexpr uint32_t kLinkColour = 0xC00000;         // RGB(0, 0, 192)
constexpr uint32_t kVisitedLinkColour = 0x800080;  // RGB(128, 0, 128)

class LicenceFlow {
 public:
  LicenceFlow(LicenceWindow& window, diagnostics::EventSink& events)
      : window_(window), events_(events) {}

  // One command of the window (control id, or IDCANCEL for the close box and Esc).
  void OnCommand(int command);
  // The link's text colour as a COLORREF (0x00BBGGRR).
  uint32_t LinkColour() const { return link_visited_ ? kVisitedLinkColour : kLinkColour; }

 private:
  LicenceWindow& window_;
  diagnostics::EventSink& events_;
  bool link_visited_ = false;
};

// The licence text as the pane shows it: an edit control breaks lines only at
// CR LF, so a lone LF or CR becomes CR LF.
std::string LicencePaneText(const std::string& text);

}  // namespace ui
