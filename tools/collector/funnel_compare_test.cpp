#include "tools/collector/funnel_compare.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <set>

#include "tests/collector/test_support.h"
#include "tools/collector/store.h"

namespace collector {

namespace {

// `kestrel-collector report ARGS` on the store: its exit status and output.
int Report(const std::string& db, const std::string& args, std::string* out) {
  std::FILE* pipe = popen(
      (std::string(KESTREL_COLLECTOR) + " report --db " + db + " " + args + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  out->clear();
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out->append(chunk, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The steps worse in the new build follow from how the cohorts were made:
// the .NET install and everything after it, never the agent download's noise.
TEST(FunnelCompareTest, TheWorseStepsOfAWorseBuild) {
  const FunnelReport report = SummarizeRecords(collector_test::ComparedBuilds(), {});
  ASSERT_EQ(report.builds.size(), 2u);
  const BuildFunnel& old_build =
      report.builds[0].watermark == "build-1" ? report.builds[0] : report.builds[1];
  const BuildFunnel& new_build =
      &old_build == &report.builds[0] ? report.builds[1] : report.builds[0];
  const FunnelComparison comparison = CompareFunnels(old_build, new_build);
  std::set<std::string> worse;
  for (const StepComparison& step : comparison.steps) {
    if (step.drop.significant) worse.insert(step.new_step.label);
    if (std::string(step.new_step.label) == "agent download done") {
      EXPECT_TRUE(step.drop.tested);
      EXPECT_EQ(step.old_step.runs, 190u);
      EXPECT_EQ(step.new_step.before_runs, 200u);
    }
    if (std::string(step.new_step.label) == ".NET install done") {
      EXPECT_EQ(step.new_step.lost, 60u);
      EXPECT_NEAR(*step.difference, -0.3, 1e-9);
    }
  }
  EXPECT_EQ(worse, (std::set<std::string>{".NET install done", "Service Pack install done",
                                          "agent install done", "game launched"}));
  EXPECT_EQ(comparison.worse_steps, 4u);
  // Compared the other way round, nothing got worse.
  EXPECT_EQ(CompareFunnels(new_build, old_build).worse_steps, 0u);
}

// What a scheduled job sees: 1 for a worse build, 0 otherwise, 2 for bad
// use; the time range applies to both builds.
TEST(FunnelCompareTest, TheCommandsExitStatus) {
  collector_test::TempFolder folder;
  const std::string db = folder.path() + "/reports.db";
  {
    std::string error;
    std::unique_ptr<Store> store = OpenStore(db, &error);
    ASSERT_TRUE(store && store->Append(collector_test::ComparedBuilds(), &error)) << error;
  }
  std::string out;
  EXPECT_EQ(Report(db, "--compare build-1 build-2", &out), 1) << out;
  EXPECT_NE(out.find("! .NET install done"), std::string::npos) << out;
  EXPECT_NE(out.find("200/200  100.0%        140/200   70.0%   -30.0 pts  <0.0001  worse"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("  agent download done"), std::string::npos) << out;
  EXPECT_EQ(Report(db, "--compare build-1 build-2 --json", &out), 1) << out;
  EXPECT_NE(out.find("{\"step\":\".NET install done\",\"after\":\".NET download done\",\"old\":"
                     "{\"runs\":200,\"before_runs\":200,\"conversion\":1},\"new\":{\"runs\":140,"
                     "\"before_runs\":200,\"conversion\":0.7},\"difference\":-0.3,\"tested\":true"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"worse_steps\":4"), std::string::npos) << out;
  EXPECT_NE(out.find("\"days\":[{\"day\":\"2026-12-02\",\"runs\":200,\"failed_runs\":60,"
                     "\"failure_rate\":0.3}]"),
            std::string::npos)
      << out;
  EXPECT_EQ(Report(db, "--compare build-2 build-1", &out), 0) << out;
  // Each range leaves one build without runs: nothing to compare.
  EXPECT_EQ(Report(db, "--compare build-1 build-2 --since 2026-12-02", &out), 0) << out;
  EXPECT_EQ(Report(db, "--compare build-1 build-2 --until '2026-12-02 00:00'", &out), 0) << out;
  EXPECT_NE(out.find("(0 runs)"), std::string::npos) << out;
  EXPECT_EQ(Report(db, "--compare build-1 build-2 --since 2026-12-01 --until 2026-12-03", &out), 1);
  EXPECT_EQ(Report(db, "--compare build-1", &out), 2) << out;
  EXPECT_EQ(Report(db, "--compare build-1 build-2 --watermark x", &out), 2) << out;
  EXPECT_EQ(Report(db, "--until 2026-13-01", &out), 2) << out;
  EXPECT_EQ(Report(db, "build-1", &out), 2) << out;
  EXPECT_EQ(Report(folder.path() + "/none/reports.db", "--compare a b", &out), 3) << out;
}

}  // namespace

}  // namespace collector
