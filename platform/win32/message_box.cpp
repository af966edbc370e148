#include "platform/message_box.h"

#include <windows.h>

namespace platform {
namespace {

// Puts the box being activated in front of every window, topmost ones
// included: a box without an owner could otherwise open behind the topmost
// splash window, where nobody can answer it. MB_TOPMOST says the same, but
// not every system honours it for a box (Wine ignores it).
LRESULT CALLBACK RaiseWhenActivated(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    SetWindowPos(reinterpret_cast<HWND>(wParam), HWND_TOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

class SystemBoxes : public MessageBoxes {
 public:
  int Show(const std::string& text, const std::string& title, unsigned style) override {
    // This thread's windows only, for as long as the box is up.
    HHOOK hook = SetWindowsHookExA(WH_CBT, &RaiseWhenActivated, nullptr, GetCurrentThreadId());
    const int answer =
        MessageBoxA(nullptr, text.c_str(), title.c_str(), style | MB_TOPMOST | MB_SETFOREGROUND);
    if (hook) UnhookWindowsHookEx(hook);
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
