#include "engine/file_digest.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/rfc1321_suite.h"
#include "tests/servers/loopback_http_server.h"
#include "tests/test_paths.h"

namespace engine {

namespace {

class FileDigestTest : public testing::Test {
 protected:
  std::string Write(const std::string& bytes) {
    const std::string path = folder_.File("file" + std::to_string(++files_));
    EXPECT_TRUE(test_paths::WriteWholeFile(path, bytes));
    return path;
  }
  test_paths::ScratchFolder folder_;
  int files_ = 0;
};

TEST_F(FileDigestTest, MatchesTheRfc1321TestSuite) {
  for (const rfc1321::Case& entry : rfc1321::kSuite) {
    const std::string path = Write(entry.text);
    EXPECT_EQ(entry.digest, FileMd5(path)) << '"' << entry.text << '"';
    EXPECT_FALSE(Md5Differs(path, entry.digest));
  }
}

TEST_F(FileDigestTest, FilesLongerThanOneReadAreHashedWhole) {
  // A million 'a's: a digest known from outside, over many read rounds.
  EXPECT_EQ("7707d6ae4e027c70eea2a935c2296f21", FileMd5(Write(std::string(1000000, 'a'))));
  // A size that is no multiple of any read size, so a lost or repeated tail shows.
  const std::string pattern = testing_servers::GeneratedBody(0, (1 << 20) + 4097);
  const std::string path = Write(pattern);
  EXPECT_EQ(platform::DigestHex(platform::DigestAlgorithm::kMd5, pattern.data(), pattern.size()),
            FileMd5(path));
  EXPECT_EQ(platform::DigestHex(platform::DigestAlgorithm::kSha256, pattern.data(), pattern.size()),
            FileDigest(path, platform::DigestAlgorithm::kSha256));
}

TEST_F(FileDigestTest, MissingFileIsAnErrorMarker) {
  const std::string missing = folder_.File("missing.exe");
  EXPECT_EQ("ERROR_FILE", FileMd5(missing));
  EXPECT_TRUE(Md5Differs(missing, "d41d8cd98f00b204e9800998ecf8427e"));
}

TEST_F(FileDigestTest, ComparisonIsExactAndAnEmptyDigestAcceptsAnything) {
  const std::string path = Write("abc");
  EXPECT_TRUE(Md5Differs(path, "900150983CD24FB0D6963F7D28E17F72"));
  EXPECT_TRUE(Md5Differs(path, "900150983cd24fb0d6963f7d28e17f7"));
  EXPECT_FALSE(Md5Differs(path, ""));
  EXPECT_FALSE(Md5Differs(folder_.File("missing.exe"), ""));
  const std::string sha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  EXPECT_FALSE(DigestDiffers(path, platform::DigestAlgorithm::kSha256, sha256));
  EXPECT_TRUE(DigestDiffers(path, platform::DigestAlgorithm::kSha256, sha256.substr(1)));
}

}  // namespace

}  // namespace engine
