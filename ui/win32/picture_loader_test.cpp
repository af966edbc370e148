#include "ui/win32/picture_loader.h"

#include <gtest/gtest.h>

#include "tests/test_paths.h"

namespace ui {

namespace {

struct PictureSize {
  long width;
  long height;
};

// Takes ownership of the bitmap; a zero size when there is none.
PictureSize SizeOf(HBITMAP bitmap) {
  PictureSize size = {0, 0};
  BITMAP info;
  if (bitmap && GetObjectA(bitmap, sizeof info, &info) == sizeof info) {
    size = {info.bmWidth, info.bmHeight};
  }
  if (bitmap) DeleteObject(bitmap);
  return size;
}

TEST(LoadPictureTest, DemoJpegsComeBackInTheirOwnSize) {
  // Sizes as `file` reports them for the demo payload's pictures.
  PictureSize splash = SizeOf(LoadPicture(test_paths::SourcePath("demo/SPLASHSCREEN.JPG")));
  EXPECT_EQ(400, splash.width);
  EXPECT_EQ(260, splash.height);
  PictureSize background = SizeOf(LoadPicture(test_paths::SourcePath("demo/BACKGROUND.JPG")));
  EXPECT_EQ(500, background.width);
  EXPECT_EQ(380, background.height);
  PictureSize bird = SizeOf(LoadPicture(test_paths::SourcePath("demo/PROGRESSBAR_BIRD.JPG")));
  EXPECT_EQ(60, bird.width);
  EXPECT_EQ(40, bird.height);
}

TEST(LoadPictureTest, MissingEmptyOrNonPictureFilesGiveNull) {
  test_paths::ScratchFolder folder;
  EXPECT_EQ(nullptr, LoadPicture(folder.File("MISSING.JPG")));
  ASSERT_TRUE(test_paths::WriteWholeFile(folder.File("EMPTY.JPG"), ""));
  EXPECT_EQ(nullptr, LoadPicture(folder.File("EMPTY.JPG")));
  ASSERT_TRUE(test_paths::WriteWholeFile(folder.File("TEXT.JPG"), "This is not a picture.\r\n"));
  EXPECT_EQ(nullptr, LoadPicture(folder.File("TEXT.JPG")));
  // A JPEG cut after its header.
  std::string jpeg;
  ASSERT_TRUE(test_paths::ReadWholeFile(test_paths::SourcePath("demo/SPLASHSCREEN.JPG"), &jpeg));
  ASSERT_TRUE(test_paths::WriteWholeFile(folder.File("CUT.JPG"), jpeg.substr(0, 20)));
  EXPECT_EQ(nullptr, LoadPicture(folder.File("CUT.JPG")));
}

}  // namespace

}  // namespace ui
