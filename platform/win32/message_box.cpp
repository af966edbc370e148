#include "platform/message_box.h"

#include <windows.h>

#include "platform/win32/topmost.h"

namespace platform {
namespace {

// Puts the box being activated in front of every window, topmost ones
// included: a box without an owner could otherwise open behind the topmost
// splash window, where nobody can answer it. MB_TOPMOST says the same, but
// not every system honours it for a box (Wine ignores it).
LRESULT CALLBACK RaiseWhenActivated(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE) {
    SetWindowPos(reinterpret_cast<HWND>(wparam), HWND_TOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

// The raises after the box is shown: the window manager places a new window
// when it gets round to it, possibly below the window that has the focus
// (the splash, when both come up at once).
constexpr UINT_PTR kEarlyRaise = 0x4B01;
constexpr UINT_PTR kLateRaise = 0x4B02;

void CALLBACK RaiseOnTimer(HWND box, UINT, UINT_PTR timer, DWORD) {
  KillTimer(box, timer);
  RaiseAboveAll(box);
}

LRESULT CALLBACK RaiseWhenShown(int code, WPARAM wparam, LPARAM lparam) {
  const CWPRETSTRUCT& message = *reinterpret_cast<CWPRETSTRUCT*>(lparam);
  if (code == HC_ACTION && message.message == WM_WINDOWPOSCHANGED &&
      (reinterpret_cast<const WINDOWPOS*>(message.lParam)->flags & SWP_SHOWWINDOW) &&
      GetParent(message.hwnd) == nullptr) {
    RaiseAboveAll(message.hwnd);
    SetTimer(message.hwnd, kEarlyRaise, 150, &RaiseOnTimer);
    SetTimer(message.hwnd, kLateRaise, 600, &RaiseOnTimer);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

class SystemBoxes : public MessageBoxes {
 public:
  int Show(const std::string& text, const std::string& title, unsigned style) override {
    // This thread's windows only, for as long as the box is up.
    HHOOK activated = SetWindowsHookExA(WH_CBT, &RaiseWhenActivated, nullptr, GetCurrentThreadId());
    HHOOK shown =
        SetWindowsHookExA(WH_CALLWNDPROCRET, &RaiseWhenShown, nullptr, GetCurrentThreadId());
    const int answer =
        MessageBoxA(nullptr, text.c_str(), title.c_str(), style | MB_TOPMOST | MB_SETFOREGROUND);
    if (shown) UnhookWindowsHookEx(shown);
    if (activated) UnhookWindowsHookEx(activated);
    return answer;
  }
};

}  // namespace

MessageBoxes& SystemMessageBoxes() {
  // Never destroyed: a pipeline thread still running at exit may ask it.
  static SystemBoxes* boxes = new SystemBoxes;
  return *boxes;
}

}  // namespace platform
