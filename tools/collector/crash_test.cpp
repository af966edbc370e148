// A collector killed under load keeps every report it answered.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "tests/collector/test_support.h"
#include "tools/collector/store.h"

namespace collector {

namespace {

TEST(CollectorCrashTest, AKillDuringLoadLosesNoAnsweredReport) {
  collector_test::TempFolder folder;
  const std::string db = folder.path() + "/reports.db";
  std::unique_ptr<collector_test::CollectorProcess> collector =
      collector_test::CollectorProcess::Start(
          KESTREL_COLLECTOR,
          {"--listen", "127.0.0.1:0", "--admin-listen", "127.0.0.1:0", "--db", db});
  ASSERT_TRUE(collector);
  const int port = collector->port();

  std::mutex lock;
  std::vector<std::string> answered;
  std::atomic<bool> dead{false};
  std::vector<std::thread> clients;
  for (int c = 0; c < 8; ++c) {
    clients.emplace_back([&, c] {
      // An address each, so that no client spends another's request budget.
      collector_test::RawClient client(port, "127.0.0." + std::to_string(10 + c));
      for (int i = 0; !dead; ++i) {
        const std::string token = "run-" + std::to_string(c) + "-" + std::to_string(i);
        const int status = client.Send(
            collector_test::ReportLine(token, 3000, "2026-12-07 22:56:28.094", i % 2 == 1));
        // The server is gone, or this address's budget is spent.
        if (status == 0) return;
        ASSERT_EQ(status, 200);
        std::lock_guard<std::mutex> guard(lock);
        answered.push_back(token);
      }
    });
  }
  // Kill it once a good number of reports were answered, mid-stream.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (answered.size() >= 400) break;
    }
    ASSERT_LT(std::chrono::steady_clock::now(), give_up) << "the collector answered too few";
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  collector->Kill();
  dead = true;
  for (std::thread& t : clients) t.join();

  std::string error;
  std::unique_ptr<Store> store = OpenStore(db, &error);
  ASSERT_TRUE(store) << error;
  std::map<std::string, int> stored;
  ASSERT_TRUE(store->ForEach(
      0, [&stored](const ReportRecord& r) { ++stored[r.token]; }, &error));
  for (const std::string& token : answered) EXPECT_EQ(stored[token], 1) << token;
  for (const auto& [token, count] : stored) EXPECT_EQ(count, 1) << token;
  EXPECT_GE(stored.size(), answered.size());
}

}  // namespace

}  // namespace collector
