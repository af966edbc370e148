#include "ui/win32/modal_dialog.h"

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_logger.h"

namespace ui {

void EndWindowSequence(HWND dialog) {
  if (dialog) EndDialog(dialog, 0);
  PostQuitMessage(0);
}

void AbandonWindowSequence(HWND dialog) {
  PostEvent(kExitedOnException);
  EndWindowSequence(dialog);
}

bool RunModalDialog(HINSTANCE instance, int templateId, DLGPROC procedure, void* self) {
  const INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), nullptr, procedure,
                                         reinterpret_cast<LPARAM>(self));
  if (result != -1) return true;
  EndWindowSequence(nullptr);
  return false;
}

}  // namespace ui
