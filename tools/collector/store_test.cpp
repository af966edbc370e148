#include "tools/collector/store.h"

#include <gtest/gtest.h>

#include "tools/collector/collector_test_support.h"

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

ReportRecord Record(const std::string& token, EventId id, std::string description,
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

INSTANTIATE_TEST_SUITE_P(Stores, StoreTest, testing::Values("sqlite", "postgresql"));

TEST(OpenStoreTest, AStoreThatCannotOpenSaysWhy) {
  std::string error;
  EXPECT_FALSE(OpenStore("/nonexistent-folder/x.db", &error));
  EXPECT_NE(error.find("/nonexistent-folder/x.db"), std::string::npos) << error;
  EXPECT_FALSE(OpenStore("postgresql:///none?host=/nonexistent-folder", &error));
  EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;
}

}  // namespace
