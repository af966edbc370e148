#include "ui/win32/modal_dialog.h"

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"

namespace ui {
namespace {

// What the guard needs for one dialog; it lives on RunModalDialog's stack
// for as long as the dialog does.
struct Guard {
  DLGPROC procedure;
  void* self;
  diagnostics::EventSink& events;
};

constexpr char kGuardProperty[] = "KestrelDialogGuard";

INT_PTR CALLBACK GuardedProcedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    Guard* guard = reinterpret_cast<Guard*>(lparam);
    SetPropA(dialog, kGuardProperty, guard);
    lparam = reinterpret_cast<LPARAM>(guard->self);
  }
  // Messages before WM_INITDIALOG (the font) get the dialog's own handling.
  Guard* guard = static_cast<Guard*>(GetPropA(dialog, kGuardProperty));
  if (!guard) return FALSE;
  if (message == WM_NCDESTROY) RemovePropA(dialog, kGuardProperty);
  try {
    return guard->procedure(dialog, message, wparam, lparam);
  } catch (...) {
    guard->events.Post(diagnostics::kExitedOnException);
    EndWindowSequence(dialog);
    return TRUE;
  }
}

}  // namespace

void EndWindowSequence(HWND dialog) {
  if (dialog) EndDialog(dialog, 0);
  PostQuitMessage(0);
}

bool RunModalDialog(HINSTANCE instance, int template_id, DLGPROC procedure, void* self,
                    diagnostics::EventSink& events) {
  Guard guard{procedure, self, events};
  const INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(template_id), nullptr,
                                         &GuardedProcedure, reinterpret_cast<LPARAM>(&guard));
  if (result != -1) return true;
  EndWindowSequence(nullptr);
  return false;
}

}  // namespace ui
