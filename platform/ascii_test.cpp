#include "platform/ascii.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(AsciiTest, OnlyAsciiLettersChangeCase) {
  EXPECT_EQ("SETUP-1.EXE", AsciiUpper("Setup-1.exe"));
  EXPECT_EQ("setup-1.exe", AsciiLower("SETUP-1.EXE"));
  // Latin-1 and UTF-8 bytes are not letters here, whatever the locale.
  const std::string high = "\xE9\xC9\xC3\xA9\xFF\x80";
  EXPECT_EQ(high, AsciiUpper(high));
  EXPECT_EQ(high, AsciiLower(high));
  EXPECT_FALSE(EqualsIgnoringCase("\xE9", "\xC9"));
  // '@' and '`' sit just outside A-Z and a-z.
  EXPECT_EQ("@[`{", AsciiUpper("@[`{"));
  EXPECT_EQ("@[`{", AsciiLower("@[`{"));
}

TEST(AsciiTest, ComparesIgnoringCase) {
  EXPECT_TRUE(EqualsIgnoringCase("Kestrel.EXE", "kestrel.exe"));
  EXPECT_FALSE(EqualsIgnoringCase("kestrel.exe", "kestrel.ex"));
  EXPECT_FALSE(EqualsIgnoringCase("@", "`"));
  EXPECT_TRUE(EndsWithIgnoringCase("C:\\Run\\MyAgentLauncher.EXE", "agentlauncher.exe"));
  EXPECT_TRUE(EndsWithIgnoringCase("x", ""));
  EXPECT_FALSE(EndsWithIgnoringCase("launcher.exe", "agentlauncher.exe"));
  EXPECT_FALSE(EndsWithIgnoringCase("agentlauncher.exe.txt", "agentlauncher.exe"));
}

}  // namespace
}  // namespace platform
