#include "platform/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

// The test suite of RFC 1321, appendix A.5.
TEST(Md5Test, MatchesRfc1321TestSuite) {
  const struct {
    const char* text;
    const char* digest;
  } kCases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.digest, Md5Hex(c.text, std::string(c.text).size())) << '"' << c.text << '"';
  }
}

TEST(Md5Test, PiecewiseUpdatesEqualOneUpdate) {
  std::string text(10000, '\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 7 + 3);
  Md5 md5;
  ASSERT_TRUE(md5.ok());
  for (size_t pos = 0; pos < text.size(); pos += 333) {
    md5.Update(text.data() + pos, std::min<size_t>(333, text.size() - pos));
  }
  EXPECT_EQ(Md5Hex(text.data(), text.size()), md5.HexDigest());
  // Finished: no second digest.
  EXPECT_EQ("", md5.HexDigest());
}

}  // namespace
}  // namespace platform
