// Puts a window in front of every window, topmost ones included, whatever
// the window manager made of it.
#pragma once

#include <windows.h>

namespace platform {

// Out of the topmost band and back in, so that it is restacked for real: a
// window manager may map a new window below the one that has the focus
// while Wine still holds it for the top one, and a plain raise would then
// change nothing.
inline void RaiseAboveAll(HWND window) {
  const UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
  SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, flags);
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, flags);
}

}  // namespace platform
