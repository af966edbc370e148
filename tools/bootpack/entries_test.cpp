#include "tools/bootpack/entries.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "tests/payload_builder.h"
#include "tests/test_paths.h"
#include "tests/bootpack/test_support.h"

namespace bootpack {
namespace {

using bootpack_test::Capture;
using test_payload::Entry;

class InspectTest : public ::testing::Test {
 protected:
  std::string Put(const std::string& name, const std::string& bytes) {
    std::string path = folder_.File(name);
    EXPECT_TRUE(test_paths::WriteWholeFile(path, bytes)) << path;
    return path;
  }

  int List(const std::string& exe) {
    Capture out, err;
    int status = ListCommand({exe}, out.get(), err.get());
    out_ = out.Text();
    err_ = err.Text();
    return status;
  }

  int Extract(const std::vector<std::string>& args) {
    Capture out, err;
    int status = ExtractCommand(args, out.get(), err.get());
    out_ = out.Text();
    err_ = err.Text();
    return status;
  }

  std::string Read(const std::string& path) {
    std::string bytes;
    EXPECT_TRUE(test_paths::ReadWholeFile(path, &bytes)) << path;
    return bytes;
  }

  test_paths::ScratchFolder folder_;
  std::string out_;
  std::string err_;
};

// Digests from RFC 1321's test suite.
TEST_F(InspectTest, ListShowsNameSizeAndDigestInFileOrder) {
  std::string exe = bootpack_test::DosStub() + Entry("CONFIG.TXT", "abc") + Entry("EULA.TXT", "") +
                    Entry("LOGOICON.ICO", "message digest") + std::string(5, '\0');
  ASSERT_EQ(0, List(Put("game.exe", exe))) << err_;
  EXPECT_EQ(
      "CONFIG.TXT            3  900150983cd24fb0d6963f7d28e17f72\n"
      "EULA.TXT              0  d41d8cd98f00b204e9800998ecf8427e\n"
      "LOGOICON.ICO         14  f96b697d7cb7938d525a2f31aaf161d0\n"
      "payload: start 600, end 683\n"
      "certificate table: none\n",
      out_);
}

TEST_F(InspectTest, ListMarksEntriesTheBootstrapperNeverReads) {
  std::string exe = bootpack_test::DosStub() + Entry("EULA.TXT", "first") + Entry("logo.jpg", "x") +
                    Entry("EULA.TXT", "second");
  ASSERT_EQ(0, List(Put("game.exe", exe))) << err_;
  std::string first_line = out_.substr(0, out_.find('\n'));
  EXPECT_NE(std::string::npos, first_line.find("(never read: a later entry has this name)"))
      << out_;
  EXPECT_NE(std::string::npos, out_.find("(never read: lower-case letters in the name)")) << out_;
  // The later EULA.TXT is the one read: its line carries no mark.
  size_t last = out_.rfind("EULA.TXT");
  EXPECT_EQ(std::string::npos, out_.substr(last, out_.find('\n', last) - last).find("never"));
}

TEST_F(InspectTest, ListWithoutPayload) {
  EXPECT_EQ(1, List(Put("plain.exe", bootpack_test::PeStub())));
  EXPECT_EQ("no payload\n", out_);
  EXPECT_EQ(2, List(folder_.File("missing.exe")));
  EXPECT_NE(std::string::npos, err_.find("cannot read"));
}

// Real signed executables: the entries before the signature are listed, an
// entry appended after it is not.
TEST_F(InspectTest, ListSignedAndForgedFixtures) {
  ASSERT_EQ(0, List(test_paths::SourcePath("tests/fixtures/payload_signed.exe"))) << err_;
  std::string signed_listing = out_;
  EXPECT_NE(std::string::npos, signed_listing.find("CONFIG.TXT")) << signed_listing;
  EXPECT_NE(std::string::npos, signed_listing.find("EULA.TXT")) << signed_listing;
  EXPECT_NE(std::string::npos, signed_listing.find("certificate table: offset ")) << signed_listing;

  ASSERT_EQ(0, List(test_paths::SourcePath("tests/fixtures/payload_forged.exe"))) << err_;
  EXPECT_EQ(std::string::npos, out_.find("FORGED.TXT")) << out_;
  // Same entries, same digests: the forged CONFIG.TXT is not the one listed.
  EXPECT_EQ(signed_listing.substr(0, signed_listing.find("payload:")),
            out_.substr(0, out_.find("payload:")));
}

// One rule with the reader: a directory entry that names no certificates
// bounds nothing, and the listing says why.
TEST_F(InspectTest, ListReportsASecurityEntryThatNamesNoCertificates) {
  std::string stub = bootpack_test::PeStub(64);
  stub.resize(bootpack_test::kImageEnd);  // the signature stripped, its directory entry left
  ASSERT_EQ(0, List(Put("game.exe", stub + Entry("CONFIG.TXT", std::string(100, 'c'))))) << err_;
  EXPECT_NE(std::string::npos, out_.find("CONFIG.TXT")) << out_;
  EXPECT_NE(std::string::npos,
            out_.find("certificate table: none (the security directory names offset 1024, size 64, "
                      "which holds no certificates; ignored)\n"))
      << out_;
}

TEST_F(InspectTest, ExtractAllWritesTheEntryThatIsRead) {
  std::string exe = Put("game.exe", bootpack_test::DosStub() + Entry("EULA.TXT", "old") +
                                        Entry("CONFIG.TXT", "A=b\r\n") +
                                        Entry("EULA.TXT", std::string("new\0\x92", 5)));
  std::string target = folder_.File("out");
  ASSERT_EQ(0, Extract({exe, target})) << err_;
  EXPECT_EQ("A=b\r\n", Read(platform::JoinPath(target, "CONFIG.TXT")));
  EXPECT_EQ(std::string("new\0\x92", 5), Read(platform::JoinPath(target, "EULA.TXT")));
}

TEST_F(InspectTest, ExtractNamedEntriesMatchesWithoutCase) {
  std::string exe = Put("game.exe", bootpack_test::DosStub() + Entry("CONFIG.TXT", "c") +
                                        Entry("BACKGROUND.JPG", "b"));
  ASSERT_EQ(0, Extract({exe, folder_.path(), "background.jpg"})) << err_;
  EXPECT_EQ("b", Read(folder_.File("BACKGROUND.JPG")));
  EXPECT_FALSE(platform::PathExists(folder_.File("CONFIG.TXT")));

  EXPECT_EQ(2, Extract({exe, folder_.path(), "CONFIG.TXT", "EULA.TXT"}));
  EXPECT_NE(std::string::npos, err_.find("EULA.TXT")) << err_;
  EXPECT_FALSE(platform::PathExists(folder_.File("CONFIG.TXT")))
      << "nothing is written when a named entry is missing";
}

TEST_F(InspectTest, ExtractRefusesNamesThatLeaveTheFolder) {
  std::string target = folder_.File("out");
  for (const char* name : {"..\\EVIL.TXT", "../EVIL.TXT", "C:EVIL.TXT", "..", ""}) {
    std::string exe = Put("game.exe", bootpack_test::DosStub() + Entry(name, "evil"));
    EXPECT_EQ(2, Extract({exe, target})) << name;
    EXPECT_NE(std::string::npos, err_.find("not a plain file name")) << name << ": " << err_;
  }
  EXPECT_FALSE(platform::PathExists(folder_.File("EVIL.TXT")));
}

TEST_F(InspectTest, ExtractWithoutPayloadOrArguments) {
  std::string plain = Put("plain.exe", bootpack_test::DosStub());
  EXPECT_EQ(1, Extract({plain, folder_.path()}));
  EXPECT_EQ(2, Extract({plain}));
  EXPECT_NE(std::string::npos, err_.find("usage:"));
}

}  // namespace
}  // namespace bootpack
