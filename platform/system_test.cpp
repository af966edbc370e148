#include "platform/system.h"

#include <gtest/gtest.h>

#include "platform/files.h"

namespace platform {
namespace {

TEST(SystemTest, FreeSpaceOfExistingAndMissingVolumes) {
  const std::string system = SystemFolder();
  EXPECT_TRUE(HasFreeSpace(TempFolder(), 0));
  EXPECT_TRUE(HasFreeSpace(TempFolder(), 1));
  // No drive Q: under Wine's prefix nor under the posix drive root.
  EXPECT_FALSE(HasFreeSpace("Q:\\nowhere", 1));
  EXPECT_FALSE(HasFreeSpace("Q:\\nowhere", 0));
#ifdef _WIN32
  EXPECT_TRUE(HasFreeSpace(system, 1)) << system;
#else
  // The translated drive has no system folder: its nearest existing parent
  // stands in for it.
  EXPECT_TRUE(HasFreeSpace(JoinPath(TempFolder(), "no\\such\\folder"), 1));
#endif
}

}  // namespace
}  // namespace platform
