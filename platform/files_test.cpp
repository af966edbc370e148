#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/uuid.h"
#include "tests/launcher_harness.h"
#include "tests/scoped_drive.h"

namespace platform {
namespace {

TEST(JoinPathTest, PutsExactlyOneBackslashBetween) {
  EXPECT_EQ("C:\\Temp\\a.txt", JoinPath("C:\\Temp", "a.txt"));
  EXPECT_EQ("C:\\Temp\\a.txt", JoinPath("C:\\Temp\\", "a.txt"));
  EXPECT_EQ("C:\\Temp\\a.txt", JoinPath("C:\\Temp\\", "\\a.txt"));
  EXPECT_EQ("C:\\Temp\\sub\\a.txt", JoinPath(JoinPath("C:\\Temp", "sub"), "a.txt"));
}

TEST(PathRootTest, EverySpellingOfADriveOrShareRootIsOne) {
  const char* const kRoots[] = {"",
                                "C:\\",
                                "C:",
                                "c:/",
                                "\\",
                                "/",
                                "C:\\\\",
                                "C:\\.",
                                "C:\\ .",
                                "C:\\dir\\..",
                                "C:\\..\\..",
                                "\\\\srv\\share",
                                "//srv/share/",
                                "\\\\srv",
                                "\\\\?\\C:\\",
                                "\\\\.\\C:",
                                "\\\\?\\UNC\\srv\\share\\a\\..",
                                "\\\\?\\Volume{0a1b2c3d-4e5f-6789-abcd-ef0123456789}\\",
                                "\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\"};
  for (const char* root : kRoots) EXPECT_TRUE(IsDriveOrShareRoot(root)) << root;
  const char* const kFolders[] = {"C:\\Program Files\\Torvane\\WF",
                                  "C:\\WF\\",
                                  "\\WF",
                                  "WF",
                                  ".",
                                  "C:WF",
                                  "\\\\srv\\share\\WF",
                                  "\\\\?\\C:\\WF",
                                  "C:\\a\\..\\b",
                                  "\\\\?\\Volume{0a1b2c3d-4e5f-6789-abcd-ef0123456789}\\WF"};
  for (const char* folder : kFolders) EXPECT_FALSE(IsDriveOrShareRoot(folder)) << folder;

    // Relative values as the run resolves them, from a current folder at a root.
#ifndef _WIN32
  ScopedDrive drive;
  ASSERT_TRUE(drive.MakeDrive());
#endif
  ScopedCurrentFolder at_root("C:\\");
  ASSERT_TRUE(at_root.ok());
  for (const char* root : {".", "..\\..", "WF\\.."}) EXPECT_TRUE(IsDriveOrShareRoot(root)) << root;
  for (const char* folder : {"WF", "..\\WF"}) EXPECT_FALSE(IsDriveOrShareRoot(folder)) << folder;
}

TEST(FoldersTest, WellKnownFolders) {
  std::string temp = TempFolder();
  ASSERT_FALSE(temp.empty());
  EXPECT_TRUE(temp.back() == '\\' || temp.back() == '/') << temp;
  EXPECT_TRUE(IsFolder(temp)) << temp;
  EXPECT_LE(temp.size(), 256u);

  std::string exe = ExecutablePath();
  EXPECT_GT(FileSize(exe), 0) << exe;

  std::string system = SystemFolder();
  ASSERT_FALSE(system.empty());
  EXPECT_NE('\\', system.back());
#ifdef _WIN32
  EXPECT_TRUE(IsFolder(system)) << system;
#endif
}

// A fresh folder under the temporary folder, removed by the test itself.
class FilesTest : public testing::Test {
 protected:
  void SetUp() override { root_ = JoinPath(TempFolder(), "kestrel-files-" + NewUuidText()); }

  bool WriteText(const std::string& path, const std::string& text) {
    UniqueFile file = OpenFile(path, "wb");
    return file && std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
  }

  std::string ReadText(const std::string& path) {
    std::string text;
    ReadWholeFile(path, &text);
    return text;
  }

  std::string root_;
};

TEST_F(FilesTest, FolderTreeRoundTrip) {
  const std::string a = JoinPath(root_, "a");
  const std::string deep = JoinPath(JoinPath(a, "b"), "c");
  ASSERT_FALSE(PathExists(root_));
  ASSERT_TRUE(CreateFolderTree(deep));
  EXPECT_TRUE(IsFolder(deep));
  EXPECT_TRUE(CreateFolderTree(deep)) << "an existing tree is fine";
  EXPECT_FALSE(CreateFolder(deep)) << "one level: already there";

  const std::string file = JoinPath(a, "f.txt");
  ASSERT_TRUE(WriteText(file, "hello"));
  EXPECT_TRUE(PathExists(file));
  EXPECT_FALSE(IsFolder(file));
  EXPECT_EQ(5, FileSize(file));
  EXPECT_EQ(-1, FileSize(a));
  EXPECT_EQ(-1, FileSize(JoinPath(a, "missing")));

  std::vector<FolderEntry> entries;
  ASSERT_TRUE(ListFolder(a, &entries));
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& x, const FolderEntry& y) { return x.name < y.name; });
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ("b", entries[0].name);
  EXPECT_TRUE(entries[0].is_folder);
  EXPECT_EQ("f.txt", entries[1].name);
  EXPECT_FALSE(entries[1].is_folder);

  EXPECT_FALSE(RemoveFolder(a)) << "not empty";
  EXPECT_TRUE(RemoveFile(file));
  EXPECT_FALSE(RemoveFile(file));
  EXPECT_TRUE(RemoveFolder(deep));
  EXPECT_TRUE(RemoveFolder(JoinPath(a, "b")));
  ASSERT_TRUE(ListFolder(a, &entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_TRUE(RemoveFolder(a));
  EXPECT_TRUE(RemoveFolder(root_));
  EXPECT_FALSE(PathExists(root_));
  EXPECT_FALSE(ListFolder(root_, &entries));
}

TEST_F(FilesTest, ReplaceFileOverwritesTheTarget) {
  ASSERT_TRUE(CreateFolder(root_));
  const std::string from = JoinPath(root_, "new.tmp");
  const std::string to = JoinPath(root_, "target.txt");
  ASSERT_TRUE(WriteText(from, "new contents"));
  ASSERT_TRUE(WriteText(to, "old"));
  EXPECT_TRUE(ReplaceFile(from, to));
  EXPECT_FALSE(PathExists(from));
  EXPECT_EQ("new contents", ReadText(to));
  EXPECT_FALSE(ReplaceFile(from, to)) << "source gone";
  EXPECT_TRUE(RemoveFile(to));
  EXPECT_TRUE(RemoveFolder(root_));
}

TEST_F(FilesTest, OpenFileFailsForAMissingFolder) {
  EXPECT_FALSE(OpenFile(JoinPath(JoinPath(root_, "nowhere"), "x.txt"), "wb"));
  EXPECT_FALSE(OpenFile(JoinPath(root_, "x.txt"), "rb"));
}

}  // namespace
}  // namespace platform
