#include "ui/window_title.h"

#include <gtest/gtest.h>

namespace {

class WindowTitleTest : public ::testing::Test {
 protected:
  Settings settings_;
};

TEST_F(WindowTitleTest, BaseIsClientIdThenDeskIdThenTheProductName) {
  EXPECT_EQ("Kestrel Bootstrapper", ComputeWindowTitle(settings_));
  settings_.set(DESKID, "Parlor");
  EXPECT_EQ("Parlor", ComputeWindowTitle(settings_));
  settings_.set(CLIENTID, "Kestrel");
  EXPECT_EQ("Kestrel", ComputeWindowTitle(settings_));
}

TEST_F(WindowTitleTest, GameNameComesFromAQuotedContentId) {
  settings_.set(CONTENTID, "\"Parlor_Solitaire\"");
  EXPECT_EQ("Kestrel Bootstrapper - Solitaire", ComputeWindowTitle(settings_));
  // Only the first "_" separates; the rest belongs to the name.
  settings_.set(CONTENTID, "\"Desk_Mah_Jong\"");
  EXPECT_EQ("Kestrel Bootstrapper - Mah_Jong", ComputeWindowTitle(settings_));
}

TEST_F(WindowTitleTest, ContentIdWithoutUnderscoreIsTheWholeName) {
  settings_.set(CLIENTID, "Kestrel");
  settings_.set(CONTENTID, "Chess");
  EXPECT_EQ("Kestrel - Chess", ComputeWindowTitle(settings_));
}

TEST_F(WindowTitleTest, ShortOrEmptyNamedContentIdGivesNoGameName) {
  settings_.set(CONTENTID, "ab");
  EXPECT_EQ("Kestrel Bootstrapper", ComputeWindowTitle(settings_));
  settings_.set(CONTENTID, "ab_");
  EXPECT_EQ("Kestrel Bootstrapper", ComputeWindowTitle(settings_));
  settings_.set(CONTENTID, "ab_\"");
  EXPECT_EQ("Kestrel Bootstrapper", ComputeWindowTitle(settings_));
  settings_.set(CONTENTID, "a_b\"");
  EXPECT_EQ("Kestrel Bootstrapper - b", ComputeWindowTitle(settings_));
}

TEST_F(WindowTitleTest, DisplayIdWinsOverContentId) {
  settings_.set(CONTENTID, "\"Parlor_Solitaire\"");
  settings_.set(DISPLAYID, "Solitaire Parlor");
  EXPECT_EQ("Kestrel Bootstrapper - Solitaire Parlor", ComputeWindowTitle(settings_));
}

}  // namespace
