#include "tools/collector/funnel.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <tuple>

#include "tests/collector/test_support.h"
#include "tools/collector/funnel_compare.h"
#include "tools/collector/report_text.h"

namespace collector {

namespace {

uint64_t Step(const BuildFunnel& build, const std::string& label) {
  for (const FunnelStep& step : build.steps) {
    if (label == step.label) return step.runs;
  }
  ADD_FAILURE() << "no step " << label;
  return 0;
}

TEST(FunnelTest, TheRecordedRoadsAddUp) {
  const FunnelReport report = SummarizeRecords(collector_test::RecordedRoads(), {});
  EXPECT_EQ(report.runs, 7u);
  const BuildFunnel& all = report.all;
  // Each row's runs and, on a run's road, the runs of the row before it.
  const std::tuple<const char*, uint64_t, std::optional<uint64_t>> expected[] = {
      {"started", 7, std::nullopt},
      {"configuration read", 7, 7},
      {".NET needed", 6, std::nullopt},
      {"agent needed", 6, std::nullopt},
      {"licence shown", 6, 7},
      {"licence accepted", 6, 6},
      {"licence declined", 0, std::nullopt},
      {"progress shown", 7, 7},
      {".NET download done", 3, 6},  // the cancelled, refused and gone mid-way runs: lost
      {".NET download failed", 1, std::nullopt},
      {".NET download cancelled", 1, std::nullopt},
      {".NET install done", 2, 3},
      {".NET install failed", 1, std::nullopt},
      {"agent install done", 2, 3},
      {"game launched", 3, 7},
      {"exited", 6, std::nullopt},
      {"a download resumed", 1, std::nullopt},
  };
  const std::vector<StepConversion> conversions = Conversions(all);
  for (const auto& [label, runs, before_runs] : expected) {
    EXPECT_EQ(Step(all, label), runs) << label;
    for (const StepConversion& step : conversions) {
      if (label != std::string(step.label)) continue;
      EXPECT_EQ(step.of_started, runs / 7.0) << label;
      EXPECT_EQ(step.before.has_value(), before_runs.has_value()) << label;
      if (!before_runs) continue;
      EXPECT_EQ(step.conversion, static_cast<double>(runs) / *before_runs) << label;
      EXPECT_EQ(step.lost, *before_runs - runs) << label;
    }
  }
  EXPECT_EQ(all.unfinished, 1u);
  // Launch times 10, 40 and 60 s: nearest-rank median 40 s, 90th percentile 60 s.
  EXPECT_EQ(all.launches_timed, 3u);
  EXPECT_EQ(all.launch_median_ms, 40000);
  EXPECT_EQ(all.launch_p90_ms, 60000);

  ASSERT_EQ(report.builds.size(), 2u);
  EXPECT_EQ(report.builds[0].watermark, "wm-A");
  EXPECT_EQ(report.builds[0].runs, 4u);
  EXPECT_EQ(report.builds[0].launch_median_ms, 40000);
  EXPECT_EQ(report.builds[0].launch_p90_ms, 60000);
  EXPECT_EQ(report.builds[1].unfinished, 1u);

  // Every failure once; the 9058 sent again after its answer was lost among them.
  ASSERT_EQ(report.failures.size(), 8u);
  EXPECT_EQ(report.failures[3].event_id, 9058);
  EXPECT_EQ(report.failures[3].description, "HTTP ERROR: Not Found.");
  EXPECT_EQ(report.failures[3].reports, 1u);
  EXPECT_EQ(report.failures[3].runs, 1u);
  ASSERT_EQ(report.unfinished.size(), 1u);
  EXPECT_EQ(report.unfinished[0].run, "run-...");  // never the whole token
  EXPECT_EQ(report.unfinished[0].last_event, 6001);
}

TEST(FunnelTest, OneBuildAndItsOwnFailures) {
  FunnelFilter filter;
  filter.watermark = "wm-B";
  const FunnelReport report = SummarizeRecords(collector_test::RecordedRoads(), filter);
  EXPECT_EQ(report.runs, 3u);
  EXPECT_EQ(Step(report.all, "game launched"), 1u);
  ASSERT_EQ(report.failures.size(), 1u);
  EXPECT_EQ(report.failures[0].event_id, 9065);
  EXPECT_EQ(report.all.launch_median_ms, 10000);
  // The refused digest and signature are wm-A's, each with the catalog's text.
  filter.watermark = "wm-A";
  const std::vector<FailureRow> wm_a =
      SummarizeRecords(collector_test::RecordedRoads(), filter).failures;
  ASSERT_EQ(wm_a.size(), 7u);
  for (size_t i : {5, 6}) {
    EXPECT_EQ(wm_a[i].event_id, i == 5 ? 9067 : 9069);
    EXPECT_EQ(wm_a[i].description, diagnostics::EventCatalog::Describe(wm_a[i].event_id));
    EXPECT_EQ(wm_a[i].runs, 1u);
  }

  // The JSON holds the same figures.
  const std::string json = ReportAsJson(report);
  EXPECT_NE(json.find("{\"step\":\"game launched\",\"runs\":1,\"of_started\":0.333333,"
                      "\"after\":\"progress shown\",\"conversion\":0.333333,\"lost\":2}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"start_to_launch_ms\":{\"median\":10000,\"p90\":10000,\"runs\":1}"),
            std::string::npos);
}

// A record's text reaches neither the terminal nor the JSON as bytes a
// terminal acts on.
TEST(FunnelTest, TextsFromRecordsAreEscaped) {
  std::vector<ReportRecord> records = collector_test::RecordedRoads();
  records.back().event_id = diagnostics::kHttpError;
  records.back().description = "\x1b]0;owned\x07\x1b[2J\r\nforged\x7f\x9b\xe9";
  const FunnelReport report = SummarizeRecords(records, {});
  const std::string text = ReportAsText(report);
  EXPECT_NE(text.find("\\x1B]0;owned\\x07\\x1B[2J\\x0D\\x0Aforged\\x7F\\x9B\xe9\n"),
            std::string::npos)
      << text;
  const std::string json = ReportAsJson(report);
  EXPECT_NE(json.find("\\u001b]0;owned\\u0007\\u001b[2J\\u000d\\u000aforged\\u007f\\u009b\\u00e9"),
            std::string::npos);
  for (const std::string* out : {&text, &json}) {
    for (unsigned char c : *out) {
      EXPECT_TRUE(c == '\n' || (c >= 0x20 && c != 0x7F && (c < 0x80 || c >= 0xA0))) << int(c);
    }
  }
}

// The records of one real run of scripts/demo.sh (its TorvaneLogFile.txt):
// a fresh machine, everything installed, the cancel question answered No.
TEST(FunnelTest, TheDemoRunAsRecorded) {
  std::FILE* file = std::fopen(KESTREL_SOURCE_DIR "/tools/collector/testdata/demo_run.log", "rb");
  ASSERT_NE(file, nullptr);
  std::vector<ReportRecord> records;
  char line[4096];
  while (std::fgets(line, sizeof line, file)) {
    std::string record(line);
    while (!record.empty() && (record.back() == '\n' || record.back() == '\r')) record.pop_back();
    std::optional<diagnostics::EventRecord> read =
        diagnostics::ParseReportTarget(diagnostics::FormatReportTarget("demo", record));
    ASSERT_TRUE(read) << record;
    records.push_back({*read, 0, ""});
  }
  std::fclose(file);
  ASSERT_EQ(records.size(), 28u);

  const FunnelReport report = SummarizeRecords(records, {});
  for (const FunnelStep& step : report.all.steps) {
    const std::string label = step.label;
    const bool happy =
        label.find("failed") == std::string::npos && label.find("cancelled") == std::string::npos &&
        label.find("declined") == std::string::npos && label.find("refused") == std::string::npos &&
        label.find("resumed") == std::string::npos;
    EXPECT_EQ(step.runs, happy ? 1u : 0u) << label;
  }
  ASSERT_EQ(report.builds.size(), 1u);
  EXPECT_EQ(report.builds[0].watermark, "e0d05435-034a-44cb-a11d-de3747162137");
  EXPECT_EQ(report.all.launch_median_ms, 15596);  // 19:18:41.516 to 19:18:57.112
  EXPECT_TRUE(report.failures.empty());
  EXPECT_EQ(report.all.unfinished, 0u);
}

}  // namespace

}  // namespace collector
