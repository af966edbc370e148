#include "platform/posix/native_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/files.h"
#include "tests/drive_root.h"
#include "tests/text_cases.h"

namespace platform {
namespace {

// Sets KESTREL_DRIVE_ROOT for one test and restores it afterwards.
class DriveRootTest : public testing::Test {
 protected:
  DriveRootVariable drive_root_;
};

TEST_F(DriveRootTest, DrivePathsMapUnderTheRoot) {
  drive_root_.Set("/srv/drives/");
  const test_tables::TextCase kDrivePaths[] = {
      {"C:\\WINDOWS\\system32", "/srv/drives/c/WINDOWS/system32"},
      {"d:\\", "/srv/drives/d/"},
      {"E:", "/srv/drives/e"},
      {"C:/a\\\\b", "/srv/drives/c/a/b"},
      // Rooted on the current drive: C:, never the host's root.
      {"\\cookie.txt", "/srv/drives/c/cookie.txt"},
      {"\\", "/srv/drives/c/"},
  };
  test_tables::ExpectEach(NativePath, kDrivePaths);
  // Read at each call.
  drive_root_.Set("/other");
  EXPECT_EQ("/other/c/x", NativePath("C:\\x"));
}

TEST_F(DriveRootTest, DefaultRoot) {
  drive_root_.Unset();
  EXPECT_EQ("/tmp/kestrel-drive/c/Program Files", NativePath("C:\\Program Files"));
}

TEST(NativePathTest, OtherPathsOnlyChangeSeparators) {
  const test_tables::TextCase kOtherPaths[] = {
      {"/tmp/\\TorvaneInstaller\\a.txt", "/tmp/TorvaneInstaller/a.txt"},
      {".\\launcher\\miniserver.exe", "./launcher/miniserver.exe"},
      {"C:file", "C:file"},  // drive-relative, not a drive root
      {"", ""},
  };
  test_tables::ExpectEach(NativePath, kOtherPaths);
}

TEST_F(DriveRootTest, FilesReachTheTranslatedPlace) {
  std::string root = TempFolder() + "kestrel-drive-test-" + std::to_string(getpid());
  drive_root_.Set(root);
  EXPECT_FALSE(CreateFolderTree("C:\\Games\\Kestrel")) << "no drive C: yet";
  ASSERT_TRUE(CreateFolderTree(root + "/c"));
  ASSERT_TRUE(CreateFolderTree("C:\\Games\\Kestrel"));
  EXPECT_TRUE(IsFolder(root + "/c/Games/Kestrel"));
  EXPECT_TRUE(IsFolder("c:\\Games"));
  EXPECT_TRUE(RemoveFolder("C:\\Games\\Kestrel"));
  EXPECT_TRUE(RemoveFolder("C:\\Games"));
  EXPECT_TRUE(RemoveFolder(root + "/c"));
  EXPECT_TRUE(RemoveFolder(root));
}

}  // namespace
}  // namespace platform
