#include "payload/embedded_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "diagnostics/event_catalog.h"
#include "payload/payload_reader.h"
#include "platform/files.h"
#include "tests/payload_builder.h"
#include "tests/recorded_events.h"
#include "tests/scoped_drive.h"
#include "tests/test_paths.h"

namespace payload {

namespace {

using test_paths::ReadWholeFile;
using test_paths::WriteWholeFile;
using test_payload::Entry;
using testing::ElementsAre;

class EmbeddedFilesTest : public testing::Test {
 protected:
  // Each in a file of its own: a reader keeps its file mapped.
  std::unique_ptr<PayloadReader> Payload(const std::string& entries) {
    std::string path = exe_folder_.File("bootstrapper" + std::to_string(++files_) + ".exe");
    EXPECT_TRUE(WriteWholeFile(path, "image" + entries));
    return std::make_unique<PayloadReader>(path);
  }

  std::string Content(const std::string& name) {
    std::string bytes;
    return ReadWholeFile(working_.File(name), &bytes) ? bytes : "<absent>";
  }

  test_paths::ScratchFolder exe_folder_;
  test_paths::ScratchFolder working_;
  int files_ = 0;
};

TEST_F(EmbeddedFilesTest, WritesPicturesAndRemovesStaleOnes) {
  auto reader = Payload(Entry("CONFIG.TXT", "x=y\r\n") + Entry("PROGRESSBAR_BIRD.JPG", "bird") +
                        Entry("SPLASHSCREEN.JPG", "splash") + Entry("BACKGROUND.JPG", "back") +
                        Entry("LOGOICON.ICO", "icon"));
  ASSERT_TRUE(WriteWholeFile(working_.File("LOGOIMAGE.JPG"), "from an earlier run"));
  RecordedEvents events;

  extractEmbeddedFiles(*reader, working_.path(), events);

  EXPECT_EQ("icon", Content("LOGOICON.ICO"));
  EXPECT_EQ("back", Content("BACKGROUND.JPG"));
  EXPECT_EQ("splash", Content("SPLASHSCREEN.JPG"));
  EXPECT_EQ("bird", Content("PROGRESSBAR_BIRD.JPG"));
  EXPECT_FALSE(platform::PathExists(working_.File("LOGOIMAGE.JPG")));
  EXPECT_FALSE(platform::PathExists(working_.File("CONFIG.TXT")));
  EXPECT_THAT(events.Ids(), ElementsAre());
}

TEST_F(EmbeddedFilesTest, EachFailedPictureReportsItsOwnEvent) {
  std::string entries;
  const char* names[] = {"LOGOICON.ICO", "BACKGROUND.JPG", "SPLASHSCREEN.JPG", "LOGOIMAGE.JPG",
                         "PROGRESSBAR_BIRD.JPG"};
  for (const char* name : names) entries += Entry(name, "picture");
  auto reader = Payload(entries);
  // Folders in the way of two targets.
  ASSERT_TRUE(platform::CreateFolder(working_.File("BACKGROUND.JPG")));
  ASSERT_TRUE(platform::CreateFolder(working_.File("PROGRESSBAR_BIRD.JPG")));
  RecordedEvents events;

  extractEmbeddedFiles(*reader, working_.path(), events);

  EXPECT_THAT(events.Ids(),
              ElementsAre(diagnostics::kBackgroundImageNotSaved, diagnostics::kBirdImageNotSaved));
  EXPECT_EQ("picture", Content("LOGOIMAGE.JPG"));

  // Nowhere to write at all: every picture in its order.
  RecordedEvents missing_folder;
  extractEmbeddedFiles(*reader, working_.File("no-such-folder"), missing_folder);
  EXPECT_THAT(missing_folder.Ids(),
              ElementsAre(diagnostics::kLogoIconNotSaved, diagnostics::kBackgroundImageNotSaved,
                          diagnostics::kSplashImageNotSaved, diagnostics::kClientLogoImageNotSaved,
                          diagnostics::kBirdImageNotSaved));
}

#ifndef _WIN32
// Without the guard the files would go to "\NAME", the root of the current
// drive: here a scratch folder, where both a write and a removal show.
TEST_F(EmbeddedFilesTest, NoWorkingDirectoryWritesNothing) {
  ScopedDrive drive;
  ASSERT_TRUE(drive.MakeDrive());
  ASSERT_TRUE(WriteWholeFile("C:\\BACKGROUND.JPG", "not ours"));
  auto reader = Payload(Entry("LOGOICON.ICO", "icon") + Entry("DOTNETFX.EXE", "MZ"));
  RecordedEvents events;
  extractEmbeddedFiles(*reader, "", events);
  SaveOptionalInstallers(*reader, "");
  EXPECT_THAT(events.Ids(), ElementsAre());
  EXPECT_FALSE(platform::PathExists("C:\\LOGOICON.ICO"));
  EXPECT_FALSE(platform::PathExists("C:\\dotnetfx.exe"));
  EXPECT_TRUE(platform::PathExists("C:\\BACKGROUND.JPG"));
  platform::RemoveFile("C:\\BACKGROUND.JPG");
}
#endif

TEST_F(EmbeddedFilesTest, OptionalInstallersOnlyWhenEmbedded) {
  auto with_framework = Payload(Entry("DOTNETFX.EXE", "MZ framework"));
  ASSERT_TRUE(WriteWholeFile(working_.File("dotnetServicePack.exe"), "downloaded earlier"));

  SaveOptionalInstallers(*with_framework, working_.path());

  EXPECT_EQ("MZ framework", Content("dotnetfx.exe"));
  // Absent from the payload: an earlier download stays.
  EXPECT_EQ("downloaded earlier", Content("dotnetServicePack.exe"));

  auto with_both = Payload(Entry("DOTNETSERVICEPACK.EXE", "MZ service pack") +
                           Entry("DOTNETFX.EXE", "MZ framework 2"));
  SaveOptionalInstallers(*with_both, working_.path());
  EXPECT_EQ("MZ framework 2", Content("dotnetfx.exe"));
  EXPECT_EQ("MZ service pack", Content("dotnetServicePack.exe"));
}

}  // namespace

}  // namespace payload
