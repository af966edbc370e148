#include "engine/file_md5.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/md5.h"
#include "tests/rfc1321_suite.h"
#include "tests/servers/loopback_http_server.h"
#include "tests/test_paths.h"

namespace engine {

namespace {

class FileMd5Test : public testing::Test {
 protected:
  std::string Write(const std::string& bytes) {
    const std::string path = folder_.File("file" + std::to_string(++files_));
    EXPECT_TRUE(test_paths::WriteWholeFile(path, bytes));
    return path;
  }
  test_paths::ScratchFolder folder_;
  int files_ = 0;
};

TEST_F(FileMd5Test, MatchesTheRfc1321TestSuite) {
  for (const rfc1321::Case& entry : rfc1321::kSuite) {
    const std::string path = Write(entry.text);
    EXPECT_EQ(entry.digest, FileMd5(path)) << '"' << entry.text << '"';
    EXPECT_FALSE(Md5Differs(path, entry.digest));
  }
}

TEST_F(FileMd5Test, FilesLongerThanOneReadAreHashedWhole) {
  // A million 'a's: a digest known from outside, over many read rounds.
  EXPECT_EQ("7707d6ae4e027c70eea2a935c2296f21", FileMd5(Write(std::string(1000000, 'a'))));
  // A size that is no multiple of any read size, so a lost or repeated tail shows.
  const std::string pattern = testing_servers::GeneratedBody(0, (1 << 20) + 4097);
  EXPECT_EQ(platform::Md5Hex(pattern.data(), pattern.size()), FileMd5(Write(pattern)));
}

TEST_F(FileMd5Test, MissingFileIsAnErrorMarker) {
  const std::string missing = folder_.File("missing.exe");
  EXPECT_EQ("ERROR_FILE", FileMd5(missing));
  EXPECT_TRUE(Md5Differs(missing, "d41d8cd98f00b204e9800998ecf8427e"));
}

TEST_F(FileMd5Test, ComparisonIsExactAndAnEmptyDigestAcceptsAnything) {
  const std::string path = Write("abc");
  EXPECT_TRUE(Md5Differs(path, "900150983CD24FB0D6963F7D28E17F72"));
  EXPECT_TRUE(Md5Differs(path, "900150983cd24fb0d6963f7d28e17f7"));
  EXPECT_FALSE(Md5Differs(path, ""));
  EXPECT_FALSE(Md5Differs(folder_.File("missing.exe"), ""));
}

}  // namespace

}  // namespace engine
