#include "tools/collector/report_parser.h"

#include <gtest/gtest.h>

#include "diagnostics/event_logger.h"
#include "tests/collector/test_support.h"
#include "tests/fake_registry.h"

namespace collector {

namespace {

constexpr char kToken[] = "0f8fad5b-d9cb-469f-a165-70867728950e";

TEST(ReportParserTest, BothFormsOfTheSendersRecords) {
  FakeRegistry registry;
  const std::string launched = diagnostics::BuildEventRecord(diagnostics::kLaunched, registry);
  const std::string watermark =
      "WATERMARK='wm 7, \"beta\"'," +
      diagnostics::BuildEventRecord(diagnostics::kWatermarkReported, registry);
  const std::string agent =
      "AGENT='?',EVENTID='7003',DESC='Successfully launched Torvane Agent.',"
      "TIMESTAMP='2026-12-07 22:56:28.094'";
  const std::string odd_text =
      "EVENTID='9058',DESC='HTTP ERROR: 50% of it, 'quoted',TIMESTAMP='x' & more?',"
      "TIMESTAMP='2024-02-29 23:59:59.999'";
  struct Case {
    std::string record;
    diagnostics::EventId id;
    std::string description, agent, watermark;
  } cases[] = {
      {launched, diagnostics::kLaunched,
       diagnostics::EventCatalog::Describe(diagnostics::kLaunched), "", ""},
      {watermark, diagnostics::kWatermarkReported,
       diagnostics::EventCatalog::Describe(diagnostics::kWatermarkReported), "", "wm 7, \"beta\""},
      {agent, diagnostics::kAgentLaunched, "Successfully launched Torvane Agent.", "?", ""},
      {odd_text, 9058, "HTTP ERROR: 50% of it, 'quoted',TIMESTAMP='x' & more?", "", ""},
  };
  for (const Case& c : cases) {
    // Today's sender, and the older one that encoded nothing.
    for (bool raw : {false, true}) {
      const std::string line = collector_test::ReportLine(kToken, c.record, raw);
      std::optional<diagnostics::EventRecord> record = collector_test::ReceivedReport(line);
      ASSERT_TRUE(record) << line;
      EXPECT_EQ(record->token, kToken);
      EXPECT_EQ(record->event_id, c.id);
      EXPECT_EQ(record->description, c.description) << line;
      EXPECT_EQ(record->agent.value_or(""), c.agent);
      EXPECT_EQ(record->watermark.value_or(""), c.watermark);
      EXPECT_EQ(record->timestamp.size(), 23u);
    }
  }
}

TEST(ReportParserTest, LinesThatAreNotRequestsStayAsTheyAre) {
  for (const char* line : {"GET / HTTP/1.1", "", "GET", "garbage with blanks", "get /a b HTTP/1.1",
                           "GET /a b c FTP/1.0", " GET /a b HTTP/1.1"}) {
    EXPECT_EQ(NormalizeRequestLine(line), line);
  }
  EXPECT_EQ(NormalizeRequestLine("GET /?A='?' b HTTP/1.0"), "GET /?A='%3F'%20b HTTP/1.0");
}

}  // namespace

}  // namespace collector
