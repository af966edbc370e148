#include "payload/cookie_file.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "tests/launcher_harness.h"
#include "tests/scoped_drive.h"
#include "tests/test_paths.h"
#include "tests/text_cases.h"

namespace payload {

namespace {

using test_paths::ReadWholeFile;
using test_paths::WriteWholeFile;

TEST(CookieFileTest, WritesTwoLinesWithCrLf) {
  test_paths::ScratchFolder folder;
  ASSERT_TRUE(
      WriteWholeFile(folder.File("cookie.txt"), "a much longer cookie from an earlier run"));

  writeCookieFile(folder.path(), "", unquote("\"Parlor_Pinball\""));

  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(folder.File("cookie.txt"), &bytes));
  EXPECT_EQ("Content=Parlor_Pinball\r\nCatalog=", bytes);

  writeCookieFile(folder.path(), "CAT-7", "plain");
  ASSERT_TRUE(ReadWholeFile(folder.File("cookie.txt"), &bytes));
  EXPECT_EQ("Content=plain\r\nCatalog=CAT-7", bytes);
}

TEST(CookieFileTest, FailuresAreSilentAndADriveRootGetsNothing) {
  test_paths::ScratchFolder folder;
  writeCookieFile(folder.File("missing"), "c", "x");
  EXPECT_FALSE(platform::PathExists(folder.File("missing")));

#ifndef _WIN32
  ScopedDrive drive;  // C:\ in a scratch folder, so that a write there shows
  ASSERT_TRUE(drive.MakeDrive());
#endif
  // The empty folder means the root of the current drive; relative ones are
  // the current folder's place, here that root.
  ScopedCurrentFolder at_root("C:\\");
  ASSERT_TRUE(at_root.ok());
  for (const char* root : {"", "C:\\", "C:", "\\", "C:/", ".", "WF\\..", "..\\.."}) {
    writeCookieFile(root, "c", "x");
    EXPECT_FALSE(platform::PathExists("C:\\cookie.txt")) << root;
  }
}

TEST(CookieFileTest, Unquote) {
  const test_tables::TextCase kUnquoted[] = {
      {"\"Parlor_Pinball\"", "Parlor_Pinball"},
      {"plain", "plain"},
      {"\"\"", ""},
      {"\"", "\""},
      {"\"open", "\"open"},
      {"\"\"inner\"\"", "\"inner\""},
      {"", ""},
  };
  test_tables::ExpectEach(unquote, kUnquoted);
}

}  // namespace

}  // namespace payload
