#include "ui/layout.h"

namespace ui {

Placement CenterInWorkArea(int width, int height, const ScreenRect& work_area) {
  Placement placement;
  placement.x = (work_area.right - work_area.left) / 2 + work_area.left - width / 2;
  placement.y = (work_area.bottom - work_area.top) / 2 + work_area.top - height / 2;
  placement.width = width;
  placement.height = height;
  return placement;
}

namespace {

int Fraction(double fraction, int size) { return static_cast<int>(fraction * size); }

}  // namespace

Placement LicencePanePlacement(int client_width, int client_height) {
  return {Fraction(0.05, client_width), Fraction(0.23, client_height), Fraction(0.9, client_width),
          Fraction(0.58, client_height)};
}

Placement LicenceHeadingPlacement(int client_width, int client_height) {
  return {Fraction(0.07, client_width), Fraction(0.18, client_height), Fraction(0.7, client_width),
          Fraction(0.05, client_height)};
}

bool DrawBackgroundOneToOne(int picture_width, int picture_height, int client_width,
                            int client_height) {
  return picture_width > client_width && picture_height > client_height;
}

ButtonPicture ChooseButtonPicture(bool pressed, bool focused, bool disabled) {
  if (pressed) return kButtonPressed;
  if (focused) return kButtonFocused;
  if (disabled) return kButtonDisabled;
  return kButtonNormal;
}

}  // namespace ui
