#include "diagnostics/event_catalog.h"

#include <gtest/gtest.h>

#include <iterator>

#include "diagnostics/error_texts.h"

namespace diagnostics {
namespace {

TEST(EventCatalogTest, FixedTextsKeepTheirWording) {
  const struct {
    EventId id;
    const char* text;
  } kTexts[] = {
      {3111, "Bootstrapper exited."},
      {3000, "Launched Bootstrapper on user's machine."},
      {3010, "Neccessary data detachment started."},
      {3112, "Application exited due to exception.Unable to extract necessary information."},
      {8111, "Rollback completed.Application will exit now."},
      {5105, "DirectX setup download cancelled by user.."},
      {5106, "Flash setup download cancelled by user.."},
      {7004, "Launching took more then expected time."},
      {9050, "Error occured while getting system directory."},
      {9001, "Bootstrapper exited after clicking 'Cancel' button in EULA dialog."},
      {7003, "Successfully launched Torvane Agent."},
      {9066, "Found a valid installer file in local Temp folder or CD source."},
      {9067, "SHA-256 hash check failed. File is corrupt."},
  };
  for (const auto& t : kTexts) EXPECT_EQ(EventCatalog::Describe(t.id), t.text) << t.id;
}

TEST(EventCatalogTest, GapsAndOtherNumbersAreNotEvents) {
  for (EventId id : {7008, 0, -1, 9053, 9057, 3007, 3009, 4008, 6016, 9074, 9999, 100000}) {
    EXPECT_EQ(EventCatalog::Describe(id), "Event Not defined.") << id;
  }
}

TEST(EventCatalogTest, LateDirectXAndFlashIdsRepeatTheCompletedTexts) {
  EXPECT_EQ(EventCatalog::Describe(6103), EventCatalog::Describe(6012));
  EXPECT_EQ(EventCatalog::Describe(6104), EventCatalog::Describe(6015));
  EXPECT_EQ(EventCatalog::Describe(6103), "DirectX setup installation completed.");
}

TEST(EventCatalogTest, ErrorIdsCarryTheLastErrorTextWhateverItsCategory) {
  SetLastErrorText(9058, "The service is temporarily overloaded.");
  for (EventId id : {9058, 9059, 9060, 9063}) {
    EXPECT_EQ(EventCatalog::Describe(id), "HTTP ERROR: The service is temporarily overloaded.")
        << id;
  }
}

// The tables hold 137 fixed texts plus the four error ids; every text is one
// line of printable ASCII, as the log file and the report need.
TEST(EventCatalogTest, EveryEventHasOneLineOfAscii) {
  SetLastErrorText(9063, "marker");
  int defined = 0;
  for (EventId id = 0; id < 10000; ++id) {
    std::string text = EventCatalog::Describe(id);
    if (text == "Event Not defined.") continue;
    ++defined;
    ASSERT_FALSE(text.empty()) << id;
    for (char c : text) ASSERT_TRUE(c >= 0x20 && c < 0x7F) << id;
  }
  EXPECT_EQ(defined, 137 + 4);
}

// Each number once and in rising order, as the lookup and the names need.
TEST(EventCatalogTest, TableNumbersAreUniqueAndSorted) {
  const EventId ids[] = {
#define KESTREL_EVENT(name, id, text) id,
#include "diagnostics/event_table.h"
#undef KESTREL_EVENT
  };
  ASSERT_EQ(std::size(ids), 137u + 4u);
  for (size_t i = 1; i < std::size(ids); ++i) EXPECT_LT(ids[i - 1], ids[i]) << ids[i];
}

TEST(EventCatalogTest, NamesStandForTheirNumbers) {
  EXPECT_EQ(kLaunched, 3000);
  EXPECT_EQ(kDotNetPrimaryDownloadStarted, 5000);
  EXPECT_EQ(kAgentLaunched, 7003);
  EXPECT_EQ(kHttpError, 9058);
  EXPECT_EQ(kLocalInstallerFound, 9066);
}

}  // namespace

}  // namespace diagnostics
