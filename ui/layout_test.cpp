#include "ui/layout.h"

#include <gtest/gtest.h>

namespace ui {

namespace {

TEST(CenterInWorkAreaTest, CentresInTheWorkAreaNotTheScreen) {
  // A 1024 x 768 screen with a 30-pixel taskbar at the bottom.
  const Placement p = CenterInWorkArea(400, 260, {0, 0, 1024, 738});
  EXPECT_EQ(312, p.x);
  EXPECT_EQ(239, p.y);
  EXPECT_EQ(400, p.width);
  EXPECT_EQ(260, p.height);
}

TEST(CenterInWorkAreaTest, SecondMonitorLeftOfThePrimary) {
  const Placement p = CenterInWorkArea(400, 260, {-1280, 0, 0, 1024});
  EXPECT_EQ(-840, p.x);
  EXPECT_EQ(382, p.y);
}

TEST(CenterInWorkAreaTest, OddSizesTruncate) {
  const Placement p = CenterInWorkArea(401, 261, {0, 0, 1023, 767});
  EXPECT_EQ(511 - 200, p.x);
  EXPECT_EQ(383 - 130, p.y);
}

TEST(LicencePlacementTest, FractionsOfTheClientAreaTruncated) {
  const Placement pane = LicencePanePlacement(654, 588);
  EXPECT_EQ(32, pane.x);        // 32.7
  EXPECT_EQ(135, pane.y);       // 135.24
  EXPECT_EQ(588, pane.width);   // 588.6
  EXPECT_EQ(341, pane.height);  // 341.04
  const Placement heading = LicenceHeadingPlacement(654, 588);
  EXPECT_EQ(45, heading.x);       // 45.78
  EXPECT_EQ(105, heading.y);      // 105.84
  EXPECT_EQ(457, heading.width);  // 457.8
  EXPECT_EQ(29, heading.height);  // 29.4
}

TEST(BackgroundTest, OneToOneOnlyWhenLargerInBothDirections) {
  EXPECT_TRUE(DrawBackgroundOneToOne(500, 380, 480, 360));
  EXPECT_FALSE(DrawBackgroundOneToOne(500, 300, 480, 360));
  EXPECT_FALSE(DrawBackgroundOneToOne(400, 380, 480, 360));
  EXPECT_FALSE(DrawBackgroundOneToOne(480, 360, 480, 360));
}

TEST(ButtonPictureTest, PressedBeforeFocusedBeforeDisabled) {
  EXPECT_EQ(kButtonNormal, ChooseButtonPicture(false, false, false));
  EXPECT_EQ(kButtonDisabled, ChooseButtonPicture(false, false, true));
  EXPECT_EQ(kButtonFocused, ChooseButtonPicture(false, true, true));
  EXPECT_EQ(kButtonPressed, ChooseButtonPicture(true, true, false));
  EXPECT_EQ(kButtonPressed, ChooseButtonPicture(true, false, false));
}

TEST(ButtonPictureTest, BitmapIdsPerState) {
  EXPECT_EQ(139, kOkButtonBitmaps[kButtonNormal]);
  EXPECT_EQ(141, kOkButtonBitmaps[kButtonDisabled]);
  EXPECT_EQ(144, kOkButtonBitmaps[kButtonFocused]);
  EXPECT_EQ(145, kOkButtonBitmaps[kButtonPressed]);
  EXPECT_EQ(142, kCancelButtonBitmaps[kButtonNormal]);
  EXPECT_EQ(143, kCancelButtonBitmaps[kButtonDisabled]);
  EXPECT_EQ(146, kCancelButtonBitmaps[kButtonFocused]);
  EXPECT_EQ(147, kCancelButtonBitmaps[kButtonPressed]);
}

}  // namespace

}  // namespace ui
