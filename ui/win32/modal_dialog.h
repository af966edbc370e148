// How every window of the sequence runs: modally, without an owner, its
// procedure guarded. An exception must never unwind through the system's
// window code that called the procedure (the unwinder cannot cross those
// frames), and a window that cannot be made must not leave the main thread in
// its message loop for ever: either ends the window sequence, so that
// shutdown follows.
#pragma once

#include <windows.h>

namespace ui {

// Ends the dialog and the window sequence (the quit message for the main
// message loop).
void EndWindowSequence(HWND dialog);

// The catch-all of a guarded procedure: posts 3112 and ends the sequence.
void AbandonWindowSequence(HWND dialog);

// `Procedure` with the guard around it, to hand to DialogBoxParamA.
template <DLGPROC Procedure>
INT_PTR CALLBACK GuardedProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    return Procedure(dialog, message, wParam, lParam);
  } catch (...) {
    AbandonWindowSequence(dialog);
    return TRUE;
  }
}

// Shows the template modally without an owner and returns once it has ended;
// false, with the sequence ended, when the dialog could not be made.
bool RunModalDialog(HINSTANCE instance, int templateId, DLGPROC procedure, void* self);

}  // namespace ui
