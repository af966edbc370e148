#include "platform/message_box.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

#ifndef _WIN32
// Windows would show the boxes and wait for a user; posix answers at once.
TEST(MessageBoxTest, PosixBoxesGoToStderrWithTheSafeAnswer) {
  MessageBoxes& boxes = SystemMessageBoxes();
  testing::internal::CaptureStderr();
  EXPECT_EQ(kAnswerOk, boxes.Show("Not enough space.", "Installation Error", kMessageOk));
  EXPECT_EQ(kAnswerNo, boxes.Show("Abort the installation?", "Abort Installation",
                                  kMessageYesNo | kMessageIconQuestion));
  EXPECT_EQ(kAnswerOk, boxes.Show("Stop.", "Download Error", kMessageIconStop));
  EXPECT_EQ(
      "Installation Error: Not enough space.\n"
      "Abort Installation: Abort the installation?\n"
      "Download Error: Stop.\n",
      testing::internal::GetCapturedStderr());
}
#endif

}  // namespace
}  // namespace platform
