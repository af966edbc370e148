#include "ui/button_keys.h"

#include "ui/resource_ids.h"

namespace {

constexpr KeyVerdict kPass{KeyVerdict::kPass, 0};

KeyVerdict Command(int id) { return {KeyVerdict::kCommand, id}; }

bool IsEnterOrSpace(int virtualKey) { return virtualKey == kKeyEnter || virtualKey == kKeySpace; }

bool IsAltWithF4(KeyMessage message, int virtualKey, bool f4Down) {
  return (message == KeyMessage::kKeyUp || message == KeyMessage::kSysKeyDown) &&
         virtualKey == kKeyAlt && f4Down;
}

}  // namespace

KeyVerdict LicenceOkKey(KeyMessage message, int virtualKey, bool f4Down) {
  if (message == KeyMessage::kKeyUp && IsEnterOrSpace(virtualKey)) return Command(IDC_LICENCE_OK);
  if (IsAltWithF4(message, virtualKey, f4Down)) return Command(IDC_LICENCE_CANCEL);
  return kPass;
}

KeyVerdict LicenceCancelKey(KeyMessage message, int virtualKey, bool f4Down) {
  if (message == KeyMessage::kKeyUp && IsEnterOrSpace(virtualKey)) {
    return Command(IDC_LICENCE_CANCEL);
  }
  if (IsAltWithF4(message, virtualKey, f4Down)) return Command(IDC_LICENCE_CANCEL);
  return kPass;
}

KeyVerdict ProgressCancelKey(KeyMessage message, int virtualKey, bool f4Down) {
  if ((message == KeyMessage::kKeyDown || message == KeyMessage::kKeyUp) &&
      IsEnterOrSpace(virtualKey)) {
    return {KeyVerdict::kSwallow, 0};
  }
  if (message == KeyMessage::kSysKeyDown && virtualKey == kKeyAlt && f4Down) {
    return Command(IDC_PROGRESS_CANCEL);
  }
  return kPass;
}
