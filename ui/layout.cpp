#include "ui/layout.h"

Placement CenterInWorkArea(int width, int height, const ScreenRect& workArea) {
  Placement placement;
  placement.x = (workArea.right - workArea.left) / 2 + workArea.left - width / 2;
  placement.y = (workArea.bottom - workArea.top) / 2 + workArea.top - height / 2;
  placement.width = width;
  placement.height = height;
  return placement;
}

namespace {

int Fraction(double fraction, int size) { return static_cast<int>(fraction * size); }

}  // namespace

Placement LicencePanePlacement(int clientWidth, int clientHeight) {
  return {Fraction(0.05, clientWidth), Fraction(0.23, clientHeight), Fraction(0.9, clientWidth),
          Fraction(0.58, clientHeight)};
}

Placement LicenceHeadingPlacement(int clientWidth, int clientHeight) {
  return {Fraction(0.07, clientWidth), Fraction(0.18, clientHeight), Fraction(0.7, clientWidth),
          Fraction(0.05, clientHeight)};
}

bool DrawBackgroundOneToOne(int pictureWidth, int pictureHeight, int clientWidth,
                            int clientHeight) {
  return pictureWidth > clientWidth && pictureHeight > clientHeight;
}

ButtonPicture ChooseButtonPicture(bool pressed, bool focused, bool disabled) {
  if (pressed) return kButtonPressed;
  if (focused) return kButtonFocused;
  if (disabled) return kButtonDisabled;
  return kButtonNormal;
}
