// The progress window's decisions: the cancel request with its confirmation,
// and what the status line and percentage show. Runs on the main thread only
// (the engine's calls arrive there through synchronous window messages).
#pragma once

#include <string>

namespace ui {

class WindowHost;

// What the flow asks of the window on screen.
class ProgressControls {
 public:
  virtual ~ProgressControls() = default;
  // The Yes/No question owned by the window; true for Yes. Messages keep
  // flowing while it is open, so the flow may be re-entered meanwhile.
  virtual bool ConfirmAbort() = 0;
  virtual void SetStatusLine(const std::string& text) = 0;
  virtual void SetPercent(int percent, const std::string& text, bool show_text) = 0;
  virtual void EnableCancel(bool enable) = 0;
  virtual void ShowCancel(bool show) = 0;
  virtual void HideCaptionAndPercent() = 0;
  // Ends the window and the window sequence (the quit message included).
  virtual void Close() = 0;
};

constexpr char kCancellingText[] = "Cancelling installation...";

class ProgressFlow {
 public:
  ProgressFlow(ProgressControls& controls, WindowHost& host) : controls_(controls), host_(host) {}

  // The Cancel button (1012) or the close command (IDCANCEL: close box, Alt+F4, Esc).
  void OnCancelRequest(int command);
  // From the engine: the percentage (0..100), moving the bar and its text.
  void ShowPercent(int percent);
  void SetStatusLine(const std::string& text) { controls_.SetStatusLine(text); }

  // The confirmation is on screen, or the user has confirmed.
  bool confirmation_open() const { return confirmation_open_; }
  bool cancelling() const { return cancelling_; }

 private:
  ProgressControls& controls_;
  WindowHost& host_;
  bool confirmation_open_ = false;
  bool cancelling_ = false;
};

// The words under the bar for a percentage: "37% Complete".
std::string PercentText(int percent);

}  // namespace ui
