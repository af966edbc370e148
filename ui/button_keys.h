// The keyboard rules of the subclassed OK and Cancel buttons: which key
// messages become commands, which are swallowed and which reach the button.
#pragma once

namespace ui {

enum class KeyMessage { kKeyDown, kKeyUp, kSysKeyDown, kOther };

struct KeyVerdict {
  enum Kind { kPass, kSwallow, kCommand };
  Kind kind;
  int command;  // for kCommand
};

constexpr int kKeyEnter = 13;
constexpr int kKeySpace = 32;
constexpr int kKeyAlt = 18;

// Licence window: Enter or Space released on OK accepts; Alt while F4 is down
// cancels from either button, as does Enter or Space released on Cancel.
KeyVerdict LicenceOkKey(KeyMessage message, int virtual_key, bool f4_down);
KeyVerdict LicenceCancelKey(KeyMessage message, int virtual_key, bool f4_down);

// Progress window: the focused Cancel button cannot be pressed from the
// keyboard (Enter and Space are swallowed); Alt while F4 is down asks to
// cancel like a click.
KeyVerdict ProgressCancelKey(KeyMessage message, int virtual_key, bool f4_down);

}  // namespace ui
