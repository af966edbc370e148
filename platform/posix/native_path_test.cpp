#include "platform/posix/native_path.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/files.h"

namespace platform {
namespace {

// Sets KESTREL_DRIVE_ROOT for one test and restores it afterwards.
class DriveRootTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("KESTREL_DRIVE_ROOT");
    had_old_ = old != nullptr;
    if (old) old_ = old;
  }
  void TearDown() override {
    if (had_old_) {
      setenv("KESTREL_DRIVE_ROOT", old_.c_str(), 1);
    } else {
      unsetenv("KESTREL_DRIVE_ROOT");
    }
  }
  bool had_old_ = false;
  std::string old_;
};

TEST_F(DriveRootTest, DrivePathsMapUnderTheRoot) {
  setenv("KESTREL_DRIVE_ROOT", "/srv/drives/", 1);
  EXPECT_EQ("/srv/drives/c/WINDOWS/system32", NativePath("C:\\WINDOWS\\system32"));
  EXPECT_EQ("/srv/drives/d/", NativePath("d:\\"));
  EXPECT_EQ("/srv/drives/e", NativePath("E:"));
  EXPECT_EQ("/srv/drives/c/a/b", NativePath("C:/a\\\\b"));
  // Rooted on the current drive: C:, never the host's root.
  EXPECT_EQ("/srv/drives/c/cookie.txt", NativePath("\\cookie.txt"));
  EXPECT_EQ("/srv/drives/c/", NativePath("\\"));
  // Read at each call.
  setenv("KESTREL_DRIVE_ROOT", "/other", 1);
  EXPECT_EQ("/other/c/x", NativePath("C:\\x"));
}

TEST_F(DriveRootTest, DefaultRoot) {
  unsetenv("KESTREL_DRIVE_ROOT");
  EXPECT_EQ("/tmp/kestrel-drive/c/Program Files", NativePath("C:\\Program Files"));
}

TEST(NativePathTest, OtherPathsOnlyChangeSeparators) {
  EXPECT_EQ("/tmp/TorvaneInstaller/a.txt", NativePath("/tmp/\\TorvaneInstaller\\a.txt"));
  EXPECT_EQ("./launcher/miniserver.exe", NativePath(".\\launcher\\miniserver.exe"));
  EXPECT_EQ("C:file", NativePath("C:file"));  // drive-relative, not a drive root
  EXPECT_EQ("", NativePath(""));
}

TEST_F(DriveRootTest, FilesReachTheTranslatedPlace) {
  std::string root = TempFolder() + "kestrel-drive-test-" + std::to_string(getpid());
  setenv("KESTREL_DRIVE_ROOT", root.c_str(), 1);
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
