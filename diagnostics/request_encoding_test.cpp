#include "diagnostics/request_encoding.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace diagnostics {

namespace {

TEST(EncodeRequestTargetTest, RecordKeepsItsPunctuation) {
  EXPECT_EQ(EncodeRequestTarget("?TOKEN='ab-1',EVENTID='3000',DESC='Launched Bootstrapper on "
                                "user's machine.',TIMESTAMP='2026-12-07 22:56:28.094'"),
            "?TOKEN='ab-1',EVENTID='3000',DESC='Launched%20Bootstrapper%20on%20user's%20machine.'"
            ",TIMESTAMP='2026-12-07%2022:56:28.094'");
}

TEST(EncodeRequestTargetTest, BytesThatWouldBreakTheRequestLine) {
  EXPECT_EQ(EncodeRequestTarget("a\r\nX-Injected: 1"), "a%0D%0AX-Injected:%201");
  EXPECT_EQ(EncodeRequestTarget("100% #1"), "100%25%20%231");
  EXPECT_EQ(EncodeRequestTarget("We\x92re"), "We%92re");
  EXPECT_EQ(EncodeRequestTarget(std::string("\0\x1F\x7F\xFF", 4)), "%00%1F%7F%FF");
  EXPECT_EQ(EncodeRequestTarget("\"<>\\^`{|}"), "%22%3C%3E%5C%5E%60%7B%7C%7D");
}

// Every byte either stays or becomes %HH; what stays is a character RFC 3986
// allows in a query (or one of the brackets, which servers take as they are).
TEST(EncodeRequestTargetTest, EveryByteIsSafeAfterwards) {
  const char* query_chars =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~!$&'()*+,;=:@/?[]";
  for (int value = 0; value < 256; ++value) {
    std::string byte(1, static_cast<char>(value));
    std::string encoded = EncodeRequestTarget(byte);
    if (encoded == byte) {
      EXPECT_NE(std::strchr(query_chars, value), nullptr) << value;
      EXPECT_NE(value, 0);
    } else {
      char expected[4];
      std::snprintf(expected, sizeof expected, "%%%02X", value);
      EXPECT_EQ(encoded, expected) << value;
      if (value != 0) {
        EXPECT_EQ(std::strchr(query_chars, value), nullptr) << value;
      }
    }
  }
}

TEST(DecodeRequestTargetTest, EscapesAndStrayPercentSigns) {
  struct Case {
    const char* target;
    std::string decoded;
  } cases[] = {
      {"DESC='Launched%20Bootstrapper%20on%20user's%20machine.'",
       "DESC='Launched Bootstrapper on user's machine.'"},
      {"%0d%0A%2f%FF", "\r\n/\xFF"},
      {"100%", "100%"},  // a sender that encoded nothing
      {"50% done", "50% done"},
      {"%4", "%4"},
      {"%G0%%41", "%G0%A"},
      {"%00", std::string(1, '\0')},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeRequestTarget(c.target), c.decoded) << c.target;
}

TEST(DecodeRequestTargetTest, GivesBackEveryEncodedByte) {
  std::string all;
  for (int value = 0; value < 256; ++value) all += static_cast<char>(value);
  EXPECT_EQ(DecodeRequestTarget(EncodeRequestTarget(all)), all);
}

}  // namespace

}  // namespace diagnostics
