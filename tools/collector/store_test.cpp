#include "tools/collector/store.h"

#include <gtest/gtest.h>

#include "tests/collector/test_support.h"
#include "tools/collector/funnel_tally.h"
#include "tools/collector/report_text.h"

namespace collector {

namespace {

// The same checks against both stores: a file of our own, and a real
// PostgreSQL server started for the test.
class StoreTest : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    std::string error;
    if (std::string(GetParam()) == "sqlite") {
      location_ = folder_.path() + "/reports.db";
    } else {
      // One server for the suite (a start costs a second or two), a new
      // database for each test.
      if (!postgres_ && why_not_.empty())
        postgres_ = collector_test::PostgresServer::Start(&why_not_);
      if (!postgres_) GTEST_SKIP() << "no PostgreSQL server here: " << why_not_;
      static int databases = 0;
      location_ = postgres_->CreateDatabase("store_test_" + std::to_string(++databases));
      ASSERT_FALSE(location_.empty());
    }
    store_ = OpenStore(location_, &error);
    ASSERT_TRUE(store_) << error;
  }

  std::vector<ReportRecord> ReadAll(int64_t since_ms = 0) {
    std::vector<ReportRecord> records;
    std::string error;
    EXPECT_TRUE(store_->ForEach(
        since_ms, [&records](const ReportRecord& r) { records.push_back(r); }, &error))
        << error;
    return records;
  }

  static void TearDownTestSuite() { postgres_.reset(); }

  static std::unique_ptr<collector_test::PostgresServer> postgres_;
  static std::string why_not_;
  collector_test::TempFolder folder_;
  std::string location_;
  std::unique_ptr<Store> store_;
};

std::unique_ptr<collector_test::PostgresServer> StoreTest::postgres_;
std::string StoreTest::why_not_;

ReportRecord Record(const std::string& token, diagnostics::EventId id, std::string description,
                    int64_t received_ms) {
  ReportRecord r;
  r.token = token;
  r.event_id = id;
  r.description = std::move(description);
  r.timestamp = "2026-12-07 22:56:28.094";
  r.received_ms = received_ms;
  r.sender = "127.0.0.1";
  return r;
}

TEST_P(StoreTest, KeepsEveryFieldAndByteInOrder) {
  std::vector<ReportRecord> batch = {
      Record("run-1", 3000, "Launched Bootstrapper on user's machine.", 1000),
      Record("run-1", 9058, "HTTP ERROR: 'quoted', 50% \"x\" \\ \x92\xE9\xFF\x01 end", 2000),
      Record("run-2", -5, "", 3000),
  };
  batch[0].watermark = "wm 7";
  batch[1].agent = "?";
  std::string error;
  ASSERT_TRUE(store_->Append(batch, &error)) << error;
  ASSERT_TRUE(store_->Append({Record("run-3", 3111, "Bootstrapper exited.", 4000)}, &error));

  std::vector<ReportRecord> read = ReadAll();
  ASSERT_EQ(read.size(), 4u);
  for (size_t i = 0; i < batch.size(); ++i) {
    EXPECT_EQ(read[i].token, batch[i].token);
    EXPECT_EQ(read[i].event_id, batch[i].event_id);
    EXPECT_EQ(read[i].description, batch[i].description);
    EXPECT_EQ(read[i].timestamp, batch[i].timestamp);
    EXPECT_EQ(read[i].agent, batch[i].agent);
    EXPECT_EQ(read[i].watermark, batch[i].watermark);
    EXPECT_EQ(read[i].received_ms, batch[i].received_ms);
    EXPECT_EQ(read[i].sender, batch[i].sender);
  }
  EXPECT_EQ(ReadAll(2000).size(), 3u);

  // A second store on the same location (a restart, or a second collector
  // on one database) finds the table and adds to it.
  std::unique_ptr<Store> again = OpenStore(location_, &error);
  ASSERT_TRUE(again) << error;
  ASSERT_TRUE(again->Append({Record("run-4", 3000, "x", 5000)}, &error)) << error;
  EXPECT_EQ(ReadAll().size(), 5u);
}

TEST_P(StoreTest, ALargeGroupInOneCommit) {
  std::vector<ReportRecord> batch;
  for (int i = 0; i < 9000; ++i) batch.push_back(Record("run-" + std::to_string(i), 3000, "d", i));
  std::string error;
  ASSERT_TRUE(store_->Append(batch, &error)) << error;
  std::vector<ReportRecord> read = ReadAll();
  ASSERT_EQ(read.size(), batch.size());
  EXPECT_EQ(read.back().token, "run-8999");
}

// A run whose failures come before its watermark (so that it moves to its
// build), with texts past the aggregates' cut, then the roads' records,
// received three hours apart (so that runs fall on several days).
std::vector<ReportRecord> LateBuildAndRoads() {
  std::vector<ReportRecord> records;
  for (diagnostics::EventId id :
       {diagnostics::kLaunched, diagnostics::kHttpError, diagnostics::kHttpError,
        diagnostics::kWatermarkReported, diagnostics::kHttpError}) {
    ReportRecord r = Record("run-late-build", id, "HTTP ERROR: " + std::string(300, 'x'), 0);
    r.watermark = "wm-" + std::string(300, 'C');
    r.timestamp += std::to_string(records.size());  // three failures, not one sent thrice
    records.push_back(r);
  }
  for (const ReportRecord& r : collector_test::RecordedRoads()) records.push_back(r);
  for (size_t i = 0; i < records.size(); ++i)
    records[i].received_ms = static_cast<int64_t>(i + 1) * 3 * 3600000;
  return records;
}

// The aggregates kept commit by commit, built again from the records, and
// summed up from the records at hand all give the same funnel.
TEST_P(StoreTest, TheFunnelFromItsAggregatesAsRecordsCome) {
  const std::vector<ReportRecord> records = LateBuildAndRoads();
  std::string error;
  for (size_t start = 0; start < records.size(); start += start < 60 ? 1 : 7) {
    const size_t end = std::min(records.size(), start + (start < 60 ? 1 : 7));
    ASSERT_TRUE(store_->Append({records.begin() + start, records.begin() + end}, &error)) << error;
  }
  auto expect_funnels = [this](const std::vector<ReportRecord>& expected) {
    for (const std::optional<std::string>& build :
         {std::optional<std::string>(), std::optional<std::string>("wm-A"),
          std::optional<std::string>(CutText("wm-" + std::string(300, 'C')))}) {
      FunnelFilter filter;
      filter.watermark = build;
      std::string error;
      std::optional<FunnelReport> funnel = store_->Funnel(build, &error);
      ASSERT_TRUE(funnel) << error;
      EXPECT_EQ(ReportAsJson(*funnel), ReportAsJson(SummarizeRecords(expected, filter)))
          << build.value_or("every build");
    }
  };
  expect_funnels(records);
  const FunnelReport all = SummarizeRecords(records, {});
  EXPECT_EQ(all.builds.size(), 3u);
  EXPECT_EQ(all.failures[0].description.size(), kAggregateTextBytes);

  // A store an older collector wrote (no schema steps, no aggregates, a
  // resend stored twice) gets them at its start, and loses only the copy.
  std::unique_ptr<SqlSession> raw = std::string(GetParam()) == "sqlite"
                                        ? ConnectSqlite(location_, &error)
                                        : ConnectPostgres(location_, {}, &error);
  ASSERT_TRUE(raw);
  for (const char* older :
       {"DELETE FROM funnel_meta", "DROP TABLE schema_steps", "DROP INDEX reports_once",
        "INSERT INTO reports (token, event_id, description, timestamp, agent, watermark,"
        " received_ms, sender) SELECT token, event_id, description, timestamp, agent, watermark,"
        " received_ms, sender FROM reports WHERE id = (SELECT MAX(id) FROM reports)"}) {
    ASSERT_TRUE(raw->Run(older, {}, nullptr, &error)) << error;
  }
  store_ = OpenStore(location_, &error);
  ASSERT_TRUE(store_) << error;
  EXPECT_EQ(store_->schema_change().from, 0);
  EXPECT_EQ(store_->schema_change().to, SchemaSteps().back().version);
  EXPECT_TRUE(store_->schema_change().aggregates_rebuilt);
  EXPECT_EQ(ReadAll().size(), records.size() - 1);  // the roads' 9058 came twice
  expect_funnels(records);

  // Records sent again (their answers lost) are done, and neither stored
  // nor counted twice, in a group of their own or beside new ones.
  const size_t half = records.size() / 2;
  ASSERT_TRUE(store_->Append({records[half], records[half]}, &error)) << error;
  ASSERT_TRUE(store_->Append({records.begin(), records.begin() + 9}, &error)) << error;
  EXPECT_EQ(ReadAll().size(), records.size() - 1);
  expect_funnels(records);

  // Pruning removes the older records and keeps the funnel of them all, and
  // a run whose records are gone goes on from where it was.
  std::optional<uint64_t> removed = store_->Prune(records[half].received_ms, &error);
  ASSERT_TRUE(removed) << error;
  EXPECT_EQ(*removed, half - 1);
  EXPECT_EQ(ReadAll().size(), records.size() - half);
  std::vector<ReportRecord> more = records;
  more.push_back(records[1]);
  more.back().timestamp = "2026-12-07 23:00:00.000";
  more.back().received_ms = records.back().received_ms + 1;
  ASSERT_TRUE(store_->Append({more.back()}, &error)) << error;
  expect_funnels(more);
  // A rebuild of the aggregates has only the younger records to count.
  ASSERT_TRUE(raw->Run("DELETE FROM funnel_meta", {}, nullptr, &error)) << error;
  store_ = OpenStore(location_, &error);
  ASSERT_TRUE(store_) << error;
  expect_funnels({more.begin() + static_cast<std::ptrdiff_t>(half), more.end()});
  EXPECT_GT(store_->UsedBytes(&error).value_or(0), 0u) << error;
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreTest, testing::Values("sqlite", "postgresql"));

// A PostgreSQL server that stops answering (paused, as a hung machine) costs
// each call its deadline, and the store works again once it answers.
TEST(PostgresDeadlinesTest, APausedServerFailsEachCallInTime) {
  std::string why_not;
  std::unique_ptr<collector_test::PostgresServer> postgres =
      collector_test::PostgresServer::Start(&why_not);
  if (!postgres) GTEST_SKIP() << "no PostgreSQL server here: " << why_not;
  const std::string url = postgres->CreateDatabase("paused");
  std::string error;
  std::unique_ptr<Store> store = OpenStore(url, &error, {500, 500, 500});
  ASSERT_TRUE(store) << error;
  ASSERT_TRUE(store->Append({Record("run-1", 3000, "before", 1)}, &error)) << error;

  postgres->Pause(true);
  EXPECT_FALSE(store->Append({Record("run-2", 3000, "paused", 2)}, &error));
  EXPECT_NE(error.find("no answer within 500 ms"), std::string::npos) << error;
  EXPECT_FALSE(store->Funnel(std::nullopt, &error));  // a new connection: the connect deadline
  EXPECT_NE(error.find("cannot connect: no answer within 500 ms"), std::string::npos) << error;
  postgres->Pause(false);

  ASSERT_TRUE(store->Append({Record("run-3", 3000, "after", 3)}, &error)) << error;
  std::vector<std::string> tokens;
  ASSERT_TRUE(store->ForEach(
      0, [&tokens](const ReportRecord& r) { tokens.push_back(r.token); }, &error));
  EXPECT_EQ(tokens, (std::vector<std::string>{"run-1", "run-3"}));
}

TEST(OpenStoreTest, AStoreThatCannotOpenSaysWhy) {
  std::string error;
  EXPECT_FALSE(OpenStore("/nonexistent-folder/x.db", &error));
  EXPECT_NE(error.find("/nonexistent-folder/x.db"), std::string::npos) << error;
  EXPECT_FALSE(OpenStore("postgresql:///none?host=/nonexistent-folder", &error));
  EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;
}

}  // namespace

}  // namespace collector
