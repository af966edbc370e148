// How every window of the sequence runs: modally, without an owner, its
// procedure guarded. An exception must never unwind through the system's
// window code that called the procedure (the unwinder cannot cross those
// frames), and a window that cannot be made must not leave the main thread in
// its message loop for ever: either ends the window sequence, so that
// shutdown follows.
#pragma once

#include <windows.h>

namespace diagnostics {
class EventSink;
}  // namespace diagnostics

namespace ui {

// Ends the dialog and the window sequence (the quit message for the main
// message loop).
void EndWindowSequence(HWND dialog);

// Shows the template modally without an owner, `procedure` guarded: an
// exception in it posts 3112 to `events` and ends the sequence. `self` is the
// WM_INITDIALOG parameter. Returns once the dialog has ended; false, with the
// sequence ended, when it could not be made.
bool RunModalDialog(HINSTANCE instance, int template_id, DLGPROC procedure, void* self,
                    diagnostics::EventSink& events);

}  // namespace ui
