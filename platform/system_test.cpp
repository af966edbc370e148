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

TEST(SystemTest, FreeSpaceExactlyEqualToTheNeedIsEnough) {
  // The .NET Framework, Service Pack, agent and MiniServer steps: 230 MiB.
  const uint32_t need = 230u * 1048576u;
  EXPECT_TRUE(FreeSpaceCovers(241172480ull, need));
  EXPECT_FALSE(FreeSpaceCovers(241172479ull, need));
  EXPECT_TRUE(FreeSpaceCovers(0x100000000ull, 0xFFFFFFFFu));  // free space beyond 32 bits
}

}  // namespace
}  // namespace platform
