// Where the windows put things and which picture they draw: the decisions
// behind the painting and placement calls, in pixels.
#pragma once

#include "ui/resource_ids.h"

namespace ui {

struct ScreenRect {
  int left, top, right, bottom;
};

struct Placement {
  int x, y, width, height;
};

// A window of the given size centred in a monitor's work area; each half
// truncated toward zero, as the splash window places itself.
Placement CenterInWorkArea(int width, int height, const ScreenRect& work_area);

// The licence pane and its heading as fractions of the licence window's
// client area (each product truncated).
Placement LicencePanePlacement(int client_width, int client_height);
Placement LicenceHeadingPlacement(int client_width, int client_height);

// A background picture wider and taller than the client area is copied 1:1
// from its top-left corner and cut; any other is stretched to fit.
bool DrawBackgroundOneToOne(int picture_width, int picture_height, int client_width, int client_height);

// The four pictures of an owner-drawn button, in the order of their bitmap ids.
enum ButtonPicture {
  kButtonNormal = 0,
  kButtonDisabled = 1,
  kButtonFocused = 2,
  kButtonPressed = 3
};
constexpr int kButtonPictureCount = 4;
ButtonPicture ChooseButtonPicture(bool pressed, bool focused, bool disabled);

// The bitmap ids of each button, indexed by ButtonPicture.
constexpr int kOkButtonBitmaps[kButtonPictureCount] = {IDB_OK_NORMAL, IDB_OK_DISABLED,
                                                       IDB_OK_FOCUSED, IDB_OK_PRESSED};
constexpr int kCancelButtonBitmaps[kButtonPictureCount] = {IDB_CANCEL_NORMAL, IDB_CANCEL_DISABLED,
                                                           IDB_CANCEL_FOCUSED, IDB_CANCEL_PRESSED};

}  // namespace ui
