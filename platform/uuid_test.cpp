#include "platform/uuid.h"

#include <gtest/gtest.h>

#include <set>

namespace platform {
namespace {

TEST(UuidTest, TextHasTheCanonicalForm) {
  std::string text = NewUuidText();
  ASSERT_EQ(36u, text.size()) << text;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      EXPECT_EQ('-', text[i]) << text;
    } else {
      EXPECT_TRUE((text[i] >= '0' && text[i] <= '9') || (text[i] >= 'a' && text[i] <= 'f')) << text;
    }
  }
  EXPECT_EQ('4', text[14]) << "a random (version 4) UUID: " << text;
}

TEST(UuidTest, ValuesAreDistinct) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) seen.insert(NewUuidText());
  EXPECT_EQ(200u, seen.size());
}

}  // namespace
}  // namespace platform
