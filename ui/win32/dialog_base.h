// What the three windows share: the C++ object bound to its dialog, and the
// background picture erased and painted under everything else.
#pragma once

#include <windows.h>

namespace diagnostics {
class EventSink;
}  // namespace diagnostics

namespace ui {

class DialogBase {
 protected:
  ~DialogBase() = default;

  // Runs the template modally with this object bound to it (RunModalDialog).
  void Run(HINSTANCE instance, int template_id, diagnostics::EventSink& events);
  HWND Item(int id) const { return GetDlgItem(dialog_, id); }

  // Sets the window up on WM_INITDIALOG and gives its answer: TRUE lets the
  // dialog focus its first control.
  virtual INT_PTR Open() = 0;
  // Every message after WM_INITDIALOG but the erase and the paint.
  virtual INT_PTR OnMessage(UINT message, WPARAM wparam, LPARAM lparam) = 0;
  // Draws over the background picture, inside WM_PAINT.
  virtual void PaintOverBackground(HDC) {}

  HWND dialog_ = nullptr;  // set on WM_INITDIALOG

 private:
  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
};

}  // namespace ui
