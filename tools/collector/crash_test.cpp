// A collector killed under load keeps every report it answered.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
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

// Two collectors started at once on one empty PostgreSQL database share the
// load; one is killed in the middle. Each sender sends what got no answer
// to the other, and some whose answers it took for lost: every report is
// stored and counted once.
TEST(CollectorCrashTest, TwoCollectorsOnOneDatabaseOneKilled) {
  std::string why_not;
  std::unique_ptr<collector_test::PostgresServer> postgres =
      collector_test::PostgresServer::Start(&why_not);
  if (!postgres) GTEST_SKIP() << "no PostgreSQL server here: " << why_not;
  const std::string db = postgres->CreateDatabase("two_collectors");
  ASSERT_FALSE(db.empty());
  std::unique_ptr<collector_test::CollectorProcess> collectors[2];
  {
    std::thread starts[2];
    for (int i = 0; i < 2; ++i) {
      starts[i] = std::thread([&collectors, &db, i] {
        collectors[i] = collector_test::CollectorProcess::Start(
            KESTREL_COLLECTOR, {"--listen", "127.0.0.1:0", "--admin-listen", "127.0.0.1:0", "--db",
                                db, "--address-rate", "100000"});
      });
    }
    for (std::thread& t : starts) t.join();
  }
  ASSERT_TRUE(collectors[0] && collectors[1]);

  constexpr int kClients = 4, kRunsEach = 50;
  const int kEvents[] = {3000, 3010, 3019, 4060, 3111};
  std::atomic<int> answered{0};
  std::atomic<bool> killed{false};
  std::atomic<int> after_kill{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      std::unique_ptr<collector_test::RawClient> to[2];
      for (int i = 0; i < 2; ++i) {
        to[i] = std::make_unique<collector_test::RawClient>(collectors[i]->port(),
                                                            "127.0.0." + std::to_string(10 + c));
      }
      bool first_gone = false;
      std::vector<std::string> sent;
      for (int run = 0; run < kRunsEach; ++run) {
        for (int e = 0; e < 5; ++e) {
          const std::string token = "run-" + std::to_string(c) + "-" + std::to_string(run);
          const std::string line = collector_test::ReportLine(
              token, kEvents[e], "2026-12-07 22:56:28.10" + std::to_string(e));
          const int pick = first_gone ? 1 : (run + e + c) % 2;
          int status = to[pick]->Send(line);
          if (status == 0 && pick == 0) {
            ASSERT_TRUE(killed) << "no answer from the first before it was killed";
            first_gone = true;
            status = to[1]->Send(line);
          }
          ASSERT_EQ(status, 200) << line;
          ++answered;
          if (killed) ++after_kill;
          sent.push_back(line);
        }
      }
      // Answers the sender took for lost: sent again, to the survivor.
      for (size_t i = 0; i < sent.size(); i += 25) EXPECT_EQ(to[1]->Send(sent[i]), 200);
    });
  }
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (answered < 300 && std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  killed = true;
  collectors[0]->Kill();
  for (std::thread& t : clients) t.join();
  EXPECT_GT(after_kill, 100) << "the kill came too late to be in the middle";

  std::string error;
  std::unique_ptr<Store> store = OpenStore(db, &error);
  ASSERT_TRUE(store) << error;
  std::map<std::string, int> stored;
  ASSERT_TRUE(store->ForEach(
      0, [&stored](const ReportRecord& r) { ++stored[r.token + " " + r.timestamp]; }, &error));
  EXPECT_EQ(stored.size(), kClients * kRunsEach * 5u);
  for (const auto& [record, count] : stored) EXPECT_EQ(count, 1) << record;
  std::FILE* report =
      popen((std::string(KESTREL_COLLECTOR) + " report --json --db '" + db + "'").c_str(), "r");
  ASSERT_NE(report, nullptr);
  char head[64] = "";
  const bool read = std::fgets(head, sizeof head, report) != nullptr;
  pclose(report);
  ASSERT_TRUE(read);
  EXPECT_EQ(std::string(head).substr(0, 27), "{\"reports\":1000,\"runs\":200,");
}

}  // namespace

}  // namespace collector
