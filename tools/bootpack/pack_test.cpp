#include "tools/bootpack/pack.h"

#include <gtest/gtest.h>

#include "payload/payload_format.h"
#include "platform/files.h"
#include "tests/payload_builder.h"
#include "tests/test_paths.h"
#include "tests/bootpack/test_support.h"

namespace bootpack {
namespace {

using bootpack_test::Capture;
using test_paths::ReadWholeFile;
using test_paths::WriteWholeFile;

const char kGoodConfig[] =
    "TorvaneIISLogServer=127.0.0.1\r\n"
    "DotNetFrameworkVersion=1.1\r\n"
    "DotNetFramework_MD5_Key=900150983cd24fb0d6963f7d28e17f72\r\n"
    "DotNetFramework_Primary_URL=http://127.0.0.1/a.exe\r\n"
    "DotNetFramework_Secondary_URL=http://127.0.0.1/b.exe\r\n"
    "DotNetServicePackVersion=SP1\r\n"
    "DotNetServicePack_MD5_Key=d41d8cd98f00b204e9800998ecf8427e\r\n"
    "DotNetFramework_ServicePack_Primary_URL=http://127.0.0.1/c.exe\r\n"
    "DotNetFramework_ServicePack_Secondary_URL=http://127.0.0.1/d.exe\r\n"
    "TorvaneAgentGUID={0A1B2C3D-4E5F-6789-ABCD-EF0123456789}\r\n"
    "TorvaneAgentURL=http://127.0.0.1/agent.msi\r\n"
    "FILEPATH_ON_SYSTEM_STARTUP=C:\\WF\r\n"
    "DeskID=Parlor\r\n"
    "ContentID=\"Parlor_Solitaire\"\r\n"
    "DisplayID=Solitaire Parlor\r\n"
    "WFGUID=0a1b2c3d-4e5f-6789-abcd-ef0123456789\r\n";

class PackTest : public ::testing::Test {
 protected:
  // Writes a file into the scratch folder and returns its path.
  std::string Put(const std::string& name, const std::string& bytes) {
    std::string path = folder_.File(name);
    EXPECT_TRUE(WriteWholeFile(path, bytes)) << path;
    return path;
  }

  int Run(const std::vector<std::string>& args) {
    Capture out, err;
    int status = PackCommand(args, out.get(), err.get());
    err_ = err.Text();
    return status;
  }

  std::string Output() {
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(out_, &bytes));
    return bytes;
  }

  payload::PayloadScan Scan(const std::string& path, payload::FileLayout* layout = nullptr) {
    platform::UniqueFile file = platform::OpenFile(path, "rb");
    EXPECT_TRUE(file);
    payload::FileLayout found = payload::ReadFileLayout(file.get());
    if (layout) *layout = found;
    return payload::ScanPayload(file.get(), found);
  }

  bool OutputExists() { return platform::PathExists(out_); }
  bool TempLeft() { return platform::PathExists(out_ + ".tmp"); }

  test_paths::ScratchFolder folder_;
  std::string out_ = folder_.File("OUT.EXE");
  std::string err_;
};

TEST_F(PackTest, AppendsEntriesInOrderUpperCasedAndPadded) {
  const std::string stub = bootpack_test::DosStub();
  const std::string picture = std::string("\xFF\xD8 picture with a marker ", 24) +
                              test_payload::MarkerBytes() + std::string("\0\0end", 5);
  std::string stub_path = Put("stub.exe", stub);
  std::string config = Put("config.txt", kGoodConfig);
  std::string jpg = Put("Splash_Screen.jpg", picture);
  std::string empty = Put("EMPTY.TXT", "");

  ASSERT_EQ(0, Run({"--stub", stub_path, "--out", out_, config, jpg, empty})) << err_;
  std::string expected = stub + test_payload::Entry("CONFIG.TXT", kGoodConfig) +
                         test_payload::Entry("SPLASH_SCREEN.JPG", picture) +
                         test_payload::Entry("EMPTY.TXT", "");
  const size_t payload_end = expected.size();
  expected.append((8 - expected.size() % 8) % 8, '\0');
  EXPECT_EQ(expected, Output());
  EXPECT_FALSE(TempLeft());

  payload::PayloadScan scan = Scan(out_);
  ASSERT_EQ(3u, scan.entries.size());
  EXPECT_EQ("CONFIG.TXT", scan.entries[0].name);
  EXPECT_EQ("SPLASH_SCREEN.JPG", scan.entries[1].name);
  EXPECT_EQ("EMPTY.TXT", scan.entries[2].name);
  EXPECT_EQ(static_cast<int64_t>(stub.size()), scan.start);
  EXPECT_EQ(static_cast<int64_t>(payload_end), scan.end);
}

TEST_F(PackTest, OutputIsAMultipleOfEightForEveryRemainder) {
  std::string stub_path = Put("stub.exe", bootpack_test::PeStub());
  for (size_t size = 0; size < 8; ++size) {
    std::string file = Put("DATA.BIN", std::string(size, 'd'));
    ASSERT_EQ(0, Run({"--stub", stub_path, "--out", out_, file})) << err_;
    std::string bytes = Output();
    EXPECT_EQ(0u, bytes.size() % 8) << size;
    size_t end = bootpack_test::kImageEnd + size + 4 + 8 + 1 + 7;
    ASSERT_GE(bytes.size(), end);
    EXPECT_LT(bytes.size() - end, 8u);
    EXPECT_EQ(std::string(bytes.size() - end, '\0'), bytes.substr(end)) << size;
  }
}

TEST_F(PackTest, RefusesBadEntryNames) {
  std::string stub_path = Put("stub.exe", bootpack_test::DosStub());
  std::string longest = Put(std::string(127, 'A'), "x");
  std::string too_long = Put(std::string(128, 'B'), "x");
  std::string high_byte = Put("caf\xE9.txt", "x");

  EXPECT_EQ(0, Run({"--stub", stub_path, "--out", out_, longest})) << err_;
  platform::RemoveFile(out_);
  EXPECT_EQ(2, Run({"--stub", stub_path, "--out", out_, too_long}));
  EXPECT_NE(std::string::npos, err_.find("longer than 127")) << err_;
  EXPECT_EQ(2, Run({"--stub", stub_path, "--out", out_, high_byte}));
  EXPECT_NE(std::string::npos, err_.find("printable ASCII")) << err_;
  EXPECT_FALSE(OutputExists());
}

TEST_F(PackTest, RefusesTwoFilesForOneEntryName) {
  std::string stub_path = Put("stub.exe", bootpack_test::DosStub());
  ASSERT_TRUE(platform::CreateFolder(folder_.File("sub")));
  std::string first = Put("eula.txt", "one");
  std::string second = Put(platform::JoinPath("sub", "EULA.TXT"), "two");
  EXPECT_EQ(2, Run({"--stub", stub_path, "--out", out_, first, second}));
  EXPECT_NE(std::string::npos, err_.find("EULA.TXT")) << err_;
  EXPECT_FALSE(OutputExists());
  platform::RemoveFile(second);
  platform::RemoveFolder(folder_.File("sub"));
}

TEST_F(PackTest, ExistingPayloadNeedsReplace) {
  std::string stub = bootpack_test::DosStub();
  std::string packed = stub + test_payload::Entry("OLD.TXT", "old") +
                       test_payload::Entry("CONFIG.TXT", "DeskID=Old\r\n") + "\0\0\0";
  std::string packed_path = Put("packed.exe", packed);
  std::string file = Put("NEW.TXT", "new");

  EXPECT_EQ(2, Run({"--stub", packed_path, "--out", out_, file}));
  EXPECT_NE(std::string::npos, err_.find("--replace")) << err_;
  EXPECT_FALSE(OutputExists());

  ASSERT_EQ(0, Run({"--stub", packed_path, "--out", out_, "--replace", file})) << err_;
  std::string expected = stub + test_payload::Entry("NEW.TXT", "new");
  expected.append((8 - expected.size() % 8) % 8, '\0');
  EXPECT_EQ(expected, Output());
}

TEST_F(PackTest, SignedStubNeedsReplaceWhichDropsTheSignature) {
  std::string signed_stub = bootpack_test::PeStub(64);
  std::string stub_path = Put("signed.exe", signed_stub);
  std::string file = Put("NEW.TXT", "new");

  EXPECT_EQ(2, Run({"--stub", stub_path, "--out", out_, file}));
  EXPECT_NE(std::string::npos, err_.find("signed")) << err_;
  EXPECT_FALSE(OutputExists());

  ASSERT_EQ(0, Run({"--replace", "--stub", stub_path, "--out", out_, file})) << err_;
  std::string bytes = Output();
  std::string unsigned_image = bootpack_test::PeStub();
  EXPECT_EQ(unsigned_image, bytes.substr(0, bootpack_test::kImageEnd))
      << "the image is kept and its security directory entry cleared";
  payload::FileLayout layout;
  payload::PayloadScan scan = Scan(out_, &layout);
  EXPECT_FALSE(layout.has_certificate_table);
  ASSERT_EQ(1u, scan.entries.size());
  EXPECT_EQ("NEW.TXT", scan.entries[0].name);
}

// A real signed executable with a payload (built by tests/fixtures).
TEST_F(PackTest, ReplaceOnASignedPackedExecutableKeepsOnlyTheNewEntries) {
  std::string fixture = test_paths::SourcePath("tests/fixtures/payload_signed.exe");
  std::string file = Put("SPLASHSCREEN.JPG", "jpeg");
  ASSERT_EQ(0, Run({"--replace", "--stub", fixture, "--out", out_, file})) << err_;
  payload::FileLayout layout;
  payload::PayloadScan scan = Scan(out_, &layout);
  EXPECT_FALSE(layout.has_certificate_table);
  ASSERT_EQ(1u, scan.entries.size());
  EXPECT_EQ("SPLASHSCREEN.JPG", scan.entries[0].name);
  EXPECT_EQ(layout.image_end, scan.start);
  ASSERT_GE(layout.security_directory_offset, 0);
  EXPECT_EQ(std::string(8, '\0'),
            Output().substr(static_cast<size_t>(layout.security_directory_offset), 8));
}

TEST_F(PackTest, ConfigWithLintErrorsNeedsForce) {
  std::string stub_path = Put("stub.exe", bootpack_test::DosStub());
  std::string config =
      Put("CONFIG.TXT", std::string(kGoodConfig) + "DotNetFrameworkVersion=3.5\r\n");
  EXPECT_EQ(2, Run({"--stub", stub_path, "--out", out_, config}));
  EXPECT_NE(std::string::npos, err_.find("CONFIG.TXT:17: error:")) << err_;
  EXPECT_FALSE(OutputExists());
  EXPECT_EQ(0, Run({"--force", "--stub", stub_path, "--out", out_, config})) << err_;
  EXPECT_TRUE(OutputExists());
}

TEST_F(PackTest, ConfigWarningsAreShownButDoNotStop) {
  std::string stub_path = Put("stub.exe", bootpack_test::DosStub());
  std::string config = Put("CONFIG.TXT", "DeskID=Parlor\r\n");
  EXPECT_EQ(0, Run({"--stub", stub_path, "--out", out_, config})) << err_;
  EXPECT_NE(std::string::npos, err_.find("warning: no WFGUID line")) << err_;
  // LF-only lines are read whole by the bootstrapper: nothing to refuse.
  config = Put("CONFIG.TXT", "DeskID=Parlor\nContentID=Parlor_X\n");
  EXPECT_EQ(0, Run({"--stub", stub_path, "--out", out_, config})) << err_;
  EXPECT_EQ(std::string::npos, err_.find("error")) << err_;
}

TEST_F(PackTest, FailedPackLeavesNoOutputAndKeepsAnOldOne) {
  std::string stub_path = Put("stub.exe", bootpack_test::DosStub());
  std::string file = Put("A.TXT", "a");
  ASSERT_TRUE(WriteWholeFile(out_, "previous build"));
  EXPECT_EQ(2, Run({"--stub", stub_path, "--out", out_, file, folder_.File("MISSING.TXT")}));
  EXPECT_EQ("previous build", Output());
  EXPECT_FALSE(TempLeft());

  std::string unwritable = platform::JoinPath(folder_.File("no-such-folder"), "OUT.EXE");
  EXPECT_EQ(2, Run({"--stub", stub_path, "--out", unwritable, file}));
  EXPECT_FALSE(platform::PathExists(unwritable));
  EXPECT_FALSE(platform::PathExists(unwritable + ".tmp"));
}

TEST_F(PackTest, RepackInPlace) {
  std::string stub = bootpack_test::DosStub();
  std::string exe = Put("game.exe", stub);
  std::string first = Put("ONE.TXT", "1");
  std::string second = Put("TWO.TXT", "2");
  ASSERT_EQ(0, Run({"--stub", exe, "--out", exe, first})) << err_;
  ASSERT_EQ(0, Run({"--stub", exe, "--out", exe, "--replace", second})) << err_;
  payload::PayloadScan scan = Scan(exe);
  ASSERT_EQ(1u, scan.entries.size());
  EXPECT_EQ("TWO.TXT", scan.entries[0].name);
  EXPECT_EQ(static_cast<int64_t>(stub.size()), scan.start);
}

TEST_F(PackTest, UsageErrors) {
  std::string file = Put("A.TXT", "a");
  EXPECT_EQ(2, Run({"--out", out_, file}));
  EXPECT_NE(std::string::npos, err_.find("usage:"));
  EXPECT_EQ(2, Run({"--stub", file, "--out", out_}));
  EXPECT_EQ(2, Run({"--stub", file, "--out", out_, "--sign", file}));
  EXPECT_EQ(2, Run({"--stub", file, "--out", out_, file})) << "not an MZ file";
  EXPECT_EQ(0, Run({"--help"}));
  EXPECT_FALSE(OutputExists());
}

}  // namespace
}  // namespace bootpack
