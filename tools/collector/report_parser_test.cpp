#include "tools/collector/report_parser.h"

#include <gtest/gtest.h>

#include "diagnostics/event_logger.h"
#include "diagnostics/request_encoding.h"

namespace {

constexpr char kToken[] = "0f8fad5b-d9cb-469f-a165-70867728950e";

// What the server's handler sees of one request line: the line normalized,
// its target decoded, the record read.
std::optional<ReportRecord> Receive(const std::string& line) {
  const std::string normal = NormalizeRequestLine(line);
  const size_t first = normal.find(' ');
  const size_t last = normal.rfind(' ');
  if (first == last) return std::nullopt;
  // The library refuses a target with two query marks.
  const std::string target = normal.substr(first + 1, last - first - 1);
  if (target.find('?') != target.rfind('?')) return std::nullopt;
  return ParseReportTarget(DecodeRequestTarget(target));
}

std::string Object(const std::string& record) {
  return std::string("?TOKEN='") + kToken + "'," + record;
}
// Today's sender, and the older one that encoded nothing.
std::string EncodedLine(const std::string& record) {
  return "GET /" + EncodeRequestTarget(Object(record)) + " HTTP/1.1";
}
std::string RawLine(const std::string& record) { return "GET /" + Object(record) + " HTTP/1.1"; }

TEST(ReportParserTest, BothFormsOfTheSendersRecords) {
  const std::string launched = BuildEventRecord(kLaunched);
  const std::string watermark =
      "WATERMARK='wm 7, \"beta\"'," + BuildEventRecord(kWatermarkReported);
  const std::string agent =
      "AGENT='?',EVENTID='7003',DESC='Successfully launched Torvane Agent.',"
      "TIMESTAMP='2026-12-07 22:56:28.094'";
  const std::string odd_text =
      "EVENTID='9058',DESC='HTTP ERROR: 50% of it, 'quoted',TIMESTAMP='x' & more?',"
      "TIMESTAMP='2024-02-29 23:59:59.999'";
  struct Case {
    std::string record;
    EventId id;
    std::string description, agent, watermark;
  } cases[] = {
      {launched, kLaunched, EventCatalog::Describe(kLaunched), "", ""},
      {watermark, kWatermarkReported, EventCatalog::Describe(kWatermarkReported), "",
       "wm 7, \"beta\""},
      {agent, kAgentLaunched, "Successfully launched Torvane Agent.", "?", ""},
      {odd_text, 9058, "HTTP ERROR: 50% of it, 'quoted',TIMESTAMP='x' & more?", "", ""},
  };
  for (const Case& c : cases) {
    for (const std::string& line : {EncodedLine(c.record), RawLine(c.record)}) {
      std::optional<ReportRecord> record = Receive(line);
      ASSERT_TRUE(record) << line;
      EXPECT_EQ(record->token, kToken);
      EXPECT_EQ(record->event_id, c.id);
      EXPECT_EQ(record->description, c.description) << line;
      EXPECT_EQ(record->agent, c.agent);
      EXPECT_EQ(record->watermark, c.watermark);
      EXPECT_EQ(record->timestamp.size(), 23u);
    }
  }
}

TEST(ReportParserTest, WhatIsNoReport) {
  const char* targets[] = {
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
  };
  for (const char* target : targets) EXPECT_FALSE(ParseReportTarget(target)) << target;
  EXPECT_FALSE(ParseReportTarget(
      std::string("?TOKEN='t',EVENTID='1',DESC='a\0b',TIMESTAMP='2026-12-07 22:56:28.094'", 69)));
  std::optional<ReportRecord> negative =
      ParseReportTarget("?TOKEN='t',EVENTID='-5',DESC='',TIMESTAMP='1999-12-31 23:59:59.000'");
  ASSERT_TRUE(negative);
  EXPECT_EQ(negative->event_id, -5);
  EXPECT_EQ(negative->description, "");
}

TEST(ReportParserTest, LinesThatAreNotRequestsStayAsTheyAre) {
  for (const char* line : {"GET / HTTP/1.1", "", "GET", "garbage with blanks", "get /a b HTTP/1.1",
                           "GET /a b c FTP/1.0", " GET /a b HTTP/1.1"}) {
    EXPECT_EQ(NormalizeRequestLine(line), line);
  }
  EXPECT_EQ(NormalizeRequestLine("GET /?A='?' b HTTP/1.0"), "GET /?A='%3F'%20b HTTP/1.0");
}

TEST(ReportParserTest, TimestampsToMilliseconds) {
  EXPECT_EQ(TimestampMs("1970-01-01 00:00:00.000"), 0);
  EXPECT_EQ(TimestampMs("2026-12-07 22:56:28.094"), 1796684188094);
  EXPECT_EQ(TimestampMs("2000-03-01 00:00:00.001"), 951868800001);
  EXPECT_FALSE(TimestampMs("2026-13-01 00:00:00.000"));
  EXPECT_FALSE(TimestampMs("2026-12-07 22:56:28.09"));
}

}  // namespace
