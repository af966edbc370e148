#include "platform/digest.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/rfc1321_suite.h"

namespace platform {
namespace {

TEST(DigestTest, MatchesThePublishedTestSuites) {
  for (const rfc1321::Case& c : rfc1321::kSuite) {
    EXPECT_EQ(c.digest, DigestHex(DigestAlgorithm::kMd5, c.text, std::string(c.text).size()))
        << '"' << c.text << '"';
  }
  // FIPS 180-2's examples.
  const struct {
    const char* text;
    const char* digest;
  } kSha256Suite[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
  };
  for (const auto& c : kSha256Suite) {
    EXPECT_EQ(c.digest, DigestHex(DigestAlgorithm::kSha256, c.text, std::string(c.text).size()))
        << '"' << c.text << '"';
  }
}

TEST(DigestTest, PiecewiseUpdatesEqualOneUpdate) {
  std::string text(10000, '\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 7 + 3);
  for (DigestAlgorithm algorithm : {DigestAlgorithm::kMd5, DigestAlgorithm::kSha256}) {
    Digest digest(algorithm);
    ASSERT_TRUE(digest.ok()) << DigestName(algorithm);
    for (size_t pos = 0; pos < text.size(); pos += 333) {
      digest.Update(text.data() + pos, std::min<size_t>(333, text.size() - pos));
    }
    EXPECT_EQ(DigestHex(algorithm, text.data(), text.size()), digest.HexDigest());
    // Finished: no second digest.
    EXPECT_EQ("", digest.HexDigest());
  }
}

}  // namespace
}  // namespace platform
