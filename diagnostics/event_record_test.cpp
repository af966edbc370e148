#include "diagnostics/event_record.h"

#include <gtest/gtest.h>

#include <ctime>

namespace diagnostics {

namespace {

TEST(EventRecordTest, WhatIsNoReport) {
  const std::string targets[] = {
      "/",
      "/favicon.ico",
      "/?a=1",
      "/x?TOKEN='t',EVENTID='1',DESC='d',TIMESTAMP='2026-12-07 22:56:28.094'",
      "/?TOKEN='',EVENTID='1',DESC='d',TIMESTAMP='2026-12-07 22:56:28.094'",
      "/?TOKEN='a b',EVENTID='1',DESC='d',TIMESTAMP='2026-12-07 22:56:28.094'",
      "/?TOKEN='t',EVENTID='',DESC='d',TIMESTAMP='2026-12-07 22:56:28.094'",
      "/?TOKEN='t',EVENTID='-',DESC='d',TIMESTAMP='2026-12-07 22:56:28.094'",
      "/?TOKEN='t',EVENTID='12x',DESC='d',TIMESTAMP='2026-12-07 22:56:28.094'",
      "/?TOKEN='t',EVENTID='2147483648',DESC='d',TIMESTAMP='2026-12-07 22:56:28.094'",
      "/?TOKEN='t',DESC='d',TIMESTAMP='2026-12-07 22:56:28.094'",
      "/?TOKEN='t',EVENTID='1',DESC='d',TIMESTAMP='2026-12-07 22:56:28.094",
      "/?TOKEN='t',EVENTID='1',DESC='d'",
      "/?TOKEN='t',EVENTID='1',DESC='d',TIMESTAMP='2026-02-29 10:00:00.000'",
      "/?TOKEN='t',EVENTID='1',DESC='d',TIMESTAMP='2026-12-07 24:00:00.000'",
      "/?TOKEN='t',EVENTID='1',DESC='d',TIMESTAMP='2026-12-07T22:56:28.094'",
      "/?TOKEN='t',AGENT='a',DESC='d',TIMESTAMP='2026-12-07 22:56:28.094'",
      "/?TOKEN='t',EVENTID='1',TIMESTAMP='2026-12-07 22:56:28.094',DESC='d'",
      std::string("?TOKEN='t',EVENTID='1',DESC='a\0b',TIMESTAMP='2026-12-07 22:56:28.094'", 69),
  };
  for (const std::string& target : targets) EXPECT_FALSE(ParseReportTarget(target)) << target;
  std::optional<EventRecord> negative =
      ParseReportTarget("?TOKEN='t',EVENTID='-5',DESC='',TIMESTAMP='1999-12-31 23:59:59.000'");
  ASSERT_TRUE(negative);
  EXPECT_EQ(negative->event_id, -5);
  EXPECT_EQ(negative->description, "");
}

// The text the logger writes for a moment, and the milliseconds since 1970
// that the log server reads back from it.
TEST(TimestampTest, KnownMomentsBothWays) {
  const struct {
    platform::UtcTime time;
    const char* text;
    int64_t ms;
  } cases[] = {
      {{1970, 1, 1, 0, 0, 0, 0}, "1970-01-01 00:00:00.000", 0},
      {{2026, 12, 7, 22, 56, 28, 94}, "2026-12-07 22:56:28.094", 1796684188094},
      {{2000, 3, 1, 0, 0, 0, 1}, "2000-03-01 00:00:00.001", 951868800001},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatTimestamp(c.time), c.text);
    EXPECT_EQ(TimestampMs(c.text), c.ms) << c.text;
  }
  EXPECT_FALSE(TimestampMs("2026-13-01 00:00:00.000"));
  EXPECT_FALSE(TimestampMs("2026-12-07 22:56:28.09"));
}

// Checked against the C library's own UTC clock.
TEST(TimestampTest, CurrentTimeIsUtc) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::time_t now = std::time(nullptr);
    std::string stamp = FormatTimestamp();
    char expected[32];
    std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M", std::gmtime(&now));
    ASSERT_EQ(stamp.size(), 23u);
    if (stamp.compare(0, 16, expected) == 0) return;  // else a minute turned over
  }
  FAIL() << "FormatTimestamp disagrees with gmtime";
}

}  // namespace

}  // namespace diagnostics
