#include "ui/button_keys.h"

#include "ui/resource_ids.h"

namespace ui {

namespace {

constexpr KeyVerdict kPass{KeyVerdict::kPass, 0};

KeyVerdict Command(int id) { return {KeyVerdict::kCommand, id}; }

bool IsEnterOrSpace(int virtual_key) { return virtual_key == kKeyEnter || virtual_key == kKeySpace; }

bool IsAltWithF4(KeyMessage message, int virtual_key, bool f4_down) {
  return (message == KeyMessage::kKeyUp || message == KeyMessage::kSysKeyDown) &&
         virtual_key == kKeyAlt && f4_down;
}

}  // namespace

KeyVerdict LicenceOkKey(KeyMessage message, int virtual_key, bool f4_down) {
  if (message == KeyMessage::kKeyUp && IsEnterOrSpace(virtual_key)) return Command(IDC_LICENCE_OK);
  if (IsAltWithF4(message, virtual_key, f4_down)) return Command(IDC_LICENCE_CANCEL);
  return kPass;
}

KeyVerdict LicenceCancelKey(KeyMessage message, int virtual_key, bool f4_down) {
  if (message == KeyMessage::kKeyUp && IsEnterOrSpace(virtual_key)) {
    return Command(IDC_LICENCE_CANCEL);
  }
  if (IsAltWithF4(message, virtual_key, f4_down)) return Command(IDC_LICENCE_CANCEL);
  return kPass;
}

KeyVerdict ProgressCancelKey(KeyMessage message, int virtual_key, bool f4_down) {
  if ((message == KeyMessage::kKeyDown || message == KeyMessage::kKeyUp) &&
      IsEnterOrSpace(virtual_key)) {
    return {KeyVerdict::kSwallow, 0};
  }
  if (message == KeyMessage::kSysKeyDown && virtual_key == kKeyAlt && f4_down) {
    return Command(IDC_PROGRESS_CANCEL);
  }
  return kPass;
}

}  // namespace ui
