#include "diagnostics/error_texts.h"

#include <gtest/gtest.h>

#include "diagnostics/deployment.h"
#include "diagnostics/event_catalog.h"

namespace diagnostics {

namespace {

TEST(LastErrorTextTest, EachCategoryHasItsPrefix) {
  SetLastErrorText(kHttpError, "a");
  EXPECT_EQ(LastErrorText(), "HTTP ERROR: a");
  SetLastErrorText(kSystemError, "b");
  EXPECT_EQ(LastErrorText(), "System ERROR: b");
  SetLastErrorText(kInstallationError, "c");
  EXPECT_EQ(LastErrorText(), "INSTALLATION ERROR: c");
  SetLastErrorText(kEventError, "d");
  EXPECT_EQ(LastErrorText(), "Event: d");
}

TEST(LastErrorTextTest, OtherIdsLeaveTheTextAlone) {
  SetLastErrorText(kInstallationError, "kept");
  for (EventId id : {9061, 9062, 9057, 9064, 0, -9058, 3000}) SetLastErrorText(id, "lost");
  EXPECT_EQ(LastErrorText(), "INSTALLATION ERROR: kept");
}

TEST(DescribeHttpStatusTest, TextsAsTabled) {
  EXPECT_EQ(DescribeHttpStatus(404),
            "The server has not found anything matching the requested URI (Uniform Resource "
            "Identifier). ");
  EXPECT_EQ(DescribeHttpStatus(500),
            "The server encountered an unexpected condition that prevented it from fulfilling "
            "the request. ");
  EXPECT_EQ(DescribeHttpStatus(100), "The request can be continued. ");
  // 502 to 505 have no trailing blank.
  EXPECT_EQ(DescribeHttpStatus(503), "The service is temporarily overloaded.");
  EXPECT_EQ(DescribeHttpStatus(504), "The request was timed out waiting for a gateway.");
}

TEST(DescribeHttpStatusTest, UnlistedCodesAreUnknown) {
  for (int code : {200, 306, 417, 12029, 0, -1, 600}) {
    EXPECT_EQ(DescribeHttpStatus(code), "Unknown error has occured") << code;
  }
}

// 12007 repeats the previous error; reported again through 9058, the prefix doubles.
TEST(DescribeHttpStatusTest, NameNotResolvedRepeatsTheLastErrorText) {
  SetLastErrorText(kHttpError, "The request was timed out waiting for a gateway.");
  std::string text = DescribeHttpStatus(12007);
  EXPECT_EQ(text, "HTTP ERROR: The request was timed out waiting for a gateway.");
  SetLastErrorText(kHttpError, text);
  EXPECT_EQ(LastErrorText(),
            "HTTP ERROR: HTTP ERROR: The request was timed out waiting for a gateway.");
}

TEST(DescribeInstallerExitCodeTest, KnownAndUnknownCodes) {
  EXPECT_EQ(DescribeInstallerExitCode(1614), "The product is uninstalled.");
  EXPECT_EQ(DescribeInstallerExitCode(1603),
            "ERROR 1603: A fatal error occurred during installation.");
  EXPECT_EQ(DescribeInstallerExitCode(0), "The installation completed successfully");
  EXPECT_EQ(DescribeInstallerExitCode(3010),
            "A computer reboot is required following the installation of the .NET Framework");
  EXPECT_EQ(DescribeInstallerExitCode(1645),
            "Windows Installer does not permit installation from a Remote Desktop Connection. ");
  for (int code : {1, 1617, -1, 1602, 4104, 4110, 4112, 4114, 4117, 8192}) {
    EXPECT_EQ(DescribeInstallerExitCode(code), "UNKNOWN ERROR: Installation Failed") << code;
  }
}

TEST(SupportMessageTest, WholeText) {
  std::string expected = std::string("We") + static_cast<char>(0x92) +
                         "re sorry, an error has occurred preventing installation.\n\n"
                         "Please contact support at " +
                         diagnostics::kSupportAddress + ". <Error Code: 1603>";
  EXPECT_EQ(SupportMessage(1603), expected);
  EXPECT_EQ(static_cast<unsigned char>(SupportMessage(1603)[2]), 0x92);
  EXPECT_EQ(std::string(diagnostics::kSupportAddress).rfind("/support"),
            std::string(diagnostics::kSupportAddress).size() - 8);
}

TEST(SupportMessageTest, CodesPrintInDecimalWithSign) {
  auto ends_with = [](const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
  };
  EXPECT_TRUE(ends_with(SupportMessage(0), "/support. <Error Code: 0>"));
  EXPECT_TRUE(ends_with(SupportMessage(-2), " <Error Code: -2>"));
  EXPECT_TRUE(ends_with(SupportMessage(-2147483647 - 1), " <Error Code: -2147483648>"));
}

}  // namespace

}  // namespace diagnostics
