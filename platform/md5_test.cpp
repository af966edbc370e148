#include "platform/md5.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/rfc1321_suite.h"

namespace platform {
namespace {

TEST(Md5Test, MatchesRfc1321TestSuite) {
  for (const rfc1321::Case& c : rfc1321::kSuite) {
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
