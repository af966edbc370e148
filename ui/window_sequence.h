// The window sequence the session runs: the splash, then the licence window,
// then the progress window, as nested modal dialogs. Windows builds only.
#pragma once

namespace ui {

class WindowHost;

// Shows the splash window without an owner; the licence and progress windows
// open from inside it. Returns 1 once the last window has ended. The host
// must outlive the call.
int StartSplash(WindowHost& host);

// StartSplash, then the thread's message loop until the quit message that
// the last window posted; returns the quit code. Fits SessionOptions::run_windows.
int RunWindows(WindowHost& host);

// Frees the window icon, the pictures and the eight button bitmaps the
// windows shared; called once at shutdown.
void ReleasePictures();

}  // namespace ui
