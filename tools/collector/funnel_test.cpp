#include "tools/collector/funnel.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "diagnostics/request_encoding.h"
#include "tools/collector/collector_test_support.h"
#include "tools/collector/report_text.h"

namespace {

// Runs as roads of the end-to-end suite record them (tests/e2e/scenarios_roads.py),
// each report as the sender puts it on the wire.
struct Road {
  const char* token;
  const char* watermark;
  std::vector<int> events;
  int launch_after_s;  // when 7003 comes, seconds after 3000
};

const std::vector<Road>& Roads() {
  static const std::vector<Road> roads = {
      // install-all: a fresh machine, everything downloaded and installed.
      {"run-install-all",
       "wm-A",
       {3000, 3010, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 5000, 5004, 5006, 5010, 5012,
        5014, 9003, 4062, 6001, 6003, 6004, 6006, 6007, 6009, 7001, 7003, 3115, 3111},
       40},
      // dotnet-secondary: the primary answers 404 (9058 and 5002 are sent
      // twice: a pass whose send failed after the server had it).
      {"run-dotnet-secondary",
       "wm-A",
       {3000, 3010, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 5000, 9058,
        9058, 5002, 5001, 5005, 5006, 5010, 5012, 5014, 9003, 4062, 6001,
        6003, 6004, 6006, 6007, 6009, 7001, 7003, 3115, 3111},
       60},
      // dotnet-installer-1603
      {"run-installer-1603",
       "wm-A",
       {3000, 3010, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 5000, 5004,
        5006, 5010, 5012, 5014, 9003, 4062, 6001, 9060, 6002, 3115, 3111},
       0},
      // all installed: no licence, straight to the launcher.
      {"run-installed",
       "wm-B",
       {3000, 3010, 3021, 3019, 4060, 4001, 4003, 4005, 4062, 7001, 7003, 3115, 3111},
       10},
      // cancel during the .NET download.
      {"run-cancelled",
       "wm-B",
       {3000, 3010, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 5000, 9003, 4062, 9005, 9065, 5100,
        3115, 3115, 3111},
       0},
      // stopped reporting mid-install (the machine went off).
      {"run-gone",
       "wm-B",
       {3000, 3010, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 9003, 4062, 6001},
       0},
  };
  return roads;
}

std::string At(int seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "2026-12-07 10:%02d:%02d.%03d", seconds / 60, seconds % 60, 0);
  return text;
}

std::vector<ReportRecord> RecordedRuns() {
  std::vector<ReportRecord> records;
  int64_t received = 0;
  for (const Road& road : Roads()) {
    int second = 0;
    for (int id : road.events) {
      if (id == 7003) second = road.launch_after_s;
      std::string before;
      if (id == 3021) before = std::string("WATERMARK='") + road.watermark + "',";
      if (id == 7003) before = "AGENT='0f8fad5b-d9cb-469f-a165-70867728950e',";
      std::string line = collector_test::ReportLine(road.token, id, At(second), false, before);
      if (id == 9058) {
        line = "GET /?TOKEN='" + std::string(road.token) +
               "',EVENTID='9058',DESC='HTTP%20ERROR:%20Not%20Found.',TIMESTAMP='" +
               "2026-12-07%2010:00:01.000' HTTP/1.1";
      } else if (id == 9060) {
        line = "GET /?TOKEN='" + std::string(road.token) +
               "',EVENTID='9060',DESC='INSTALLATION ERROR: ERROR 1603: A fatal error occurred "
               "during installation.',TIMESTAMP='2026-12-07 10:00:02.000' HTTP/1.1";
      }
      const std::string normal = NormalizeRequestLine(line);
      const size_t first = normal.find(' ');
      std::optional<ReportRecord> record = ParseReportTarget(
          DecodeRequestTarget(normal.substr(first + 1, normal.rfind(' ') - first - 1)));
      EXPECT_TRUE(record) << line;
      if (!record) continue;
      record->received_ms = ++received;
      records.push_back(*record);
      ++second;
    }
  }
  return records;
}

uint64_t Step(const BuildFunnel& build, const std::string& label) {
  for (const FunnelStep& step : build.steps) {
    if (label == step.label) return step.runs;
  }
  ADD_FAILURE() << "no step " << label;
  return 0;
}

TEST(FunnelTest, TheRecordedRoadsAddUp) {
  const FunnelReport report = SummarizeRecords(RecordedRuns(), {});
  EXPECT_EQ(report.runs, 6u);
  const BuildFunnel& all = report.all;
  const std::pair<const char*, uint64_t> expected[] = {
      {"started", 6},
      {"configuration read", 6},
      {"licence shown", 5},
      {"licence accepted", 5},
      {"licence declined", 0},
      {"progress shown", 6},
      {".NET download done", 3},
      {".NET download failed", 0},
      {".NET download cancelled", 1},
      {".NET install done", 2},
      {".NET install failed", 1},
      {"agent install done", 2},
      {"game launched", 3},
      {"exited", 5},
  };
  for (const auto& [label, runs] : expected) EXPECT_EQ(Step(all, label), runs) << label;
  EXPECT_EQ(all.unfinished, 1u);
  // Launch times 10, 40 and 60 s: nearest-rank median 40 s, 90th percentile 60 s.
  EXPECT_EQ(all.launches_timed, 3u);
  EXPECT_EQ(all.launch_median_ms, 40000);
  EXPECT_EQ(all.launch_p90_ms, 60000);

  ASSERT_EQ(report.builds.size(), 2u);
  EXPECT_EQ(report.builds[0].watermark, "wm-A");
  EXPECT_EQ(report.builds[0].runs, 3u);
  EXPECT_EQ(report.builds[0].launch_median_ms, 40000);
  EXPECT_EQ(report.builds[0].launch_p90_ms, 60000);
  EXPECT_EQ(report.builds[1].unfinished, 1u);

  ASSERT_GE(report.failures.size(), 4u);
  EXPECT_EQ(report.failures[0].event_id, 9058);
  EXPECT_EQ(report.failures[0].description, "HTTP ERROR: Not Found.");
  EXPECT_EQ(report.failures[0].reports, 2u);
  EXPECT_EQ(report.failures[0].runs, 1u);
  ASSERT_EQ(report.unfinished.size(), 1u);
  EXPECT_EQ(report.unfinished[0].token, "run-gone");
  EXPECT_EQ(report.unfinished[0].last_event, 6001);
}

TEST(FunnelTest, OneBuildAndItsOwnFailures) {
  FunnelFilter filter;
  filter.watermark = "wm-B";
  const FunnelReport report = SummarizeRecords(RecordedRuns(), filter);
  EXPECT_EQ(report.runs, 3u);
  EXPECT_EQ(Step(report.all, "game launched"), 1u);
  ASSERT_EQ(report.failures.size(), 1u);
  EXPECT_EQ(report.failures[0].event_id, 9065);
  EXPECT_EQ(report.all.launch_median_ms, 10000);

  // The JSON holds the same figures.
  const std::string json = ReportAsJson(report);
  EXPECT_NE(json.find("{\"step\":\"game launched\",\"runs\":1}"), std::string::npos) << json;
  EXPECT_NE(json.find("\"start_to_launch_ms\":{\"median\":10000,\"p90\":10000,\"runs\":1}"),
            std::string::npos);
}

}  // namespace
