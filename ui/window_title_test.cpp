#include "ui/window_title.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>

namespace ui {

namespace {

// One title: the ids a configuration gives (null: its line is missing) and
// the title they make.
struct TitleCase {
  const char* name;
  const char* clientId;
  const char* deskId;
  const char* contentId;
  const char* displayId;
  const char* expected;
};

const TitleCase kTitles[] = {
    // The base is the client id, else the desk id, else the product name.
    {"NoIdsGiveTheProductName", nullptr, nullptr, nullptr, nullptr, "Kestrel Bootstrapper"},
    {"DeskIdWithoutClientId", nullptr, "Parlor", nullptr, nullptr, "Parlor"},
    {"ClientIdBeforeDeskId", "Kestrel", "Parlor", nullptr, nullptr, "Kestrel"},
    // The game name comes from a quoted content id.
    {"QuotedContentId", nullptr, nullptr, "\"Parlor_Solitaire\"", nullptr,
     "Kestrel Bootstrapper - Solitaire"},
    // Only the first "_" separates; the rest belongs to the name.
    {"OnlyTheFirstUnderscoreSeparates", nullptr, nullptr, "\"Desk_Mah_Jong\"", nullptr,
     "Kestrel Bootstrapper - Mah_Jong"},
    {"ContentIdWithoutUnderscoreIsTheWholeName", "Kestrel", nullptr, "Chess", nullptr,
     "Kestrel - Chess"},
    // A short or empty name gives no game name.
    {"TwoLetterContentId", nullptr, nullptr, "ab", nullptr, "Kestrel Bootstrapper"},
    {"EmptyNameAfterTheUnderscore", nullptr, nullptr, "ab_", nullptr, "Kestrel Bootstrapper"},
    {"OnlyAQuoteAfterTheUnderscore", nullptr, nullptr, "ab_\"", nullptr, "Kestrel Bootstrapper"},
    {"OneLetterNameBeforeAQuote", nullptr, nullptr, "a_b\"", nullptr, "Kestrel Bootstrapper - b"},
    {"DisplayIdWinsOverContentId", nullptr, nullptr, "\"Parlor_Solitaire\"", "Solitaire Parlor",
     "Kestrel Bootstrapper - Solitaire Parlor"},
};

// The row's name stands for it in gtest's output.
void PrintTo(const TitleCase& c, std::ostream* out) { *out << c.name; }

class WindowTitleTest : public testing::TestWithParam<TitleCase> {};

TEST_P(WindowTitleTest, ComputesTheTitle) {
  const TitleCase& c = GetParam();
  payload::Settings settings;
  const std::pair<int, const char*> ids[] = {{payload::CLIENTID, c.clientId},
                                             {payload::DESKID, c.deskId},
                                             {payload::CONTENTID, c.contentId},
                                             {payload::DISPLAYID, c.displayId}};
  for (const auto& id : ids) {
    if (id.second) settings.set(id.first, id.second);
  }
  EXPECT_EQ(c.expected, ComputeWindowTitle(settings));
}

INSTANTIATE_TEST_SUITE_P(Titles, WindowTitleTest, testing::ValuesIn(kTitles),
                         [](const testing::TestParamInfo<TitleCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace

}  // namespace ui
