#include "ui/button_keys.h"

#include <gtest/gtest.h>

namespace ui {

namespace {

constexpr int kKeyF4 = 115;
constexpr int kKeyA = 65;

bool IsCommand(KeyVerdict v, int id) { return v.kind == KeyVerdict::kCommand && v.command == id; }
bool IsPass(KeyVerdict v) { return v.kind == KeyVerdict::kPass; }

TEST(LicenceButtonKeysTest, EnterOrSpaceReleasedPressesTheButton) {
  for (int key : {kKeyEnter, kKeySpace}) {
    EXPECT_TRUE(IsCommand(LicenceOkKey(KeyMessage::kKeyUp, key, false), 1008));
    EXPECT_TRUE(IsCommand(LicenceCancelKey(KeyMessage::kKeyUp, key, false), 1009));
    // The key going down belongs to the button's own handling.
    EXPECT_TRUE(IsPass(LicenceOkKey(KeyMessage::kKeyDown, key, false)));
    EXPECT_TRUE(IsPass(LicenceCancelKey(KeyMessage::kKeyDown, key, false)));
  }
  EXPECT_TRUE(IsPass(LicenceOkKey(KeyMessage::kKeyUp, kKeyA, false)));
}

TEST(LicenceButtonKeysTest, AltWithF4DownCancelsFromEitherButton) {
  for (KeyMessage m : {KeyMessage::kKeyUp, KeyMessage::kSysKeyDown}) {
    EXPECT_TRUE(IsCommand(LicenceOkKey(m, kKeyAlt, true), 1009));
    EXPECT_TRUE(IsCommand(LicenceCancelKey(m, kKeyAlt, true), 1009));
    EXPECT_TRUE(IsPass(LicenceOkKey(m, kKeyAlt, false)));
  }
  EXPECT_TRUE(IsPass(LicenceOkKey(KeyMessage::kSysKeyDown, kKeyF4, true)));
}

TEST(ProgressButtonKeysTest, EnterAndSpaceAreSwallowed) {
  for (int key : {kKeyEnter, kKeySpace}) {
    for (KeyMessage m : {KeyMessage::kKeyDown, KeyMessage::kKeyUp}) {
      EXPECT_EQ(KeyVerdict::kSwallow, ProgressCancelKey(m, key, false).kind);
    }
  }
  EXPECT_TRUE(IsPass(ProgressCancelKey(KeyMessage::kKeyDown, kKeyA, false)));
  EXPECT_TRUE(IsPass(ProgressCancelKey(KeyMessage::kOther, kKeyEnter, false)));
}

TEST(ProgressButtonKeysTest, AltWithF4DownAsksToCancel) {
  EXPECT_TRUE(IsCommand(ProgressCancelKey(KeyMessage::kSysKeyDown, kKeyAlt, true), 1012));
  EXPECT_TRUE(IsPass(ProgressCancelKey(KeyMessage::kSysKeyDown, kKeyAlt, false)));
  EXPECT_TRUE(IsPass(ProgressCancelKey(KeyMessage::kKeyUp, kKeyAlt, true)));
}

}  // namespace

}  // namespace ui
