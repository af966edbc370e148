#include "ui/win32/dialog_base.h"

#include "ui/win32/modal_dialog.h"
#include "ui/win32/shared_pictures.h"
#include "ui/win32/window_drawing.h"

namespace ui {

void DialogBase::Run(HINSTANCE instance, int template_id, diagnostics::EventSink& events) {
  RunModalDialog(instance, template_id, &DialogBase::Proc, this, events);
}

INT_PTR CALLBACK DialogBase::Proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongA(dialog, DWL_USER, lparam);
    DialogBase* self = reinterpret_cast<DialogBase*>(lparam);
    self->dialog_ = dialog;
    return self->Open();
  }
  DialogBase* self = reinterpret_cast<DialogBase*>(GetWindowLongA(dialog, DWL_USER));
  if (!self) return FALSE;
  switch (message) {
    case WM_ERASEBKGND:
      // The picture covers the whole client area.
      return CurrentBackground() != nullptr;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(dialog, &paint);
      PaintBackground(dc, dialog, CurrentBackground());
      self->PaintOverBackground(dc);
      EndPaint(dialog, &paint);
      return TRUE;
    }
    default:
      return self->OnMessage(message, wparam, lparam);
  }
}

}  // namespace ui
