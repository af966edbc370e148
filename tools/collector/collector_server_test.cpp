#include "tools/collector/collector_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tools/collector/collector_test_support.h"

namespace {

using collector_test::RawClient;
using collector_test::ReportLine;

constexpr char kTime[] = "2026-12-07 22:56:28.094";

// A real server on a loopback port of its own, over an SQLite file.
class CollectorServerTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    store_ = OpenStore(folder_.path() + "/reports.db", &error);
    ASSERT_TRUE(store_) << error;
    ServerOptions options;
    options.host = "127.0.0.1";
    options.port = 0;
    options.threads = 16;
    options.keep_alive_ms = 2000;
    server_ = std::make_unique<CollectorServer>(*store_, options);
    port_ = server_->Bind();
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { server_->Run(); });
  }

  void TearDown() override {
    if (server_) server_->Stop();
    if (thread_.joinable()) thread_.join();
  }

  std::vector<ReportRecord> Stored() {
    std::vector<ReportRecord> records;
    std::string error;
    EXPECT_TRUE(store_->ForEach(
        0, [&records](const ReportRecord& r) { records.push_back(r); }, &error));
    return records;
  }

  collector_test::TempFolder folder_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<CollectorServer> server_;
  std::thread thread_;
  int port_ = 0;
};

TEST_F(CollectorServerTest, StoresBothFormsOverOneConnectionAndRefusesTheRest) {
  RawClient client(port_);
  EXPECT_EQ(client.Send(ReportLine("run-a", 3000, kTime)), 200);
  EXPECT_EQ(client.Send(ReportLine("run-a", 7003, kTime, true, "AGENT='?',")), 200);
  EXPECT_EQ(client.Send(ReportLine("run-a", 3111, kTime, true)), 200);
  const char* refused[] = {
      "GET / HTTP/1.1",
      "GET /favicon.ico HTTP/1.1",
      "POST /?TOKEN='run-a',EVENTID='1',DESC='d',TIMESTAMP='2026-12-07%2022:56:28.094' HTTP/1.1",
      "GET /?TOKEN='run-a',EVENTID='1',DESC='d',TIMESTAMP='2026-12-07%2099:56:28.094' HTTP/1.1",
      "GET /?TOKEN='run-a',EVENTID='1',DESC='a%00b',TIMESTAMP='2026-12-07%2022:56:28.094' HTTP/1.1",
  };
  for (const char* line : refused) EXPECT_EQ(client.Send(line), 400) << line;
  // A line the library cannot read at all ends the connection after its 400.
  RawClient other(port_);
  EXPECT_EQ(other.Send("NONSENSE"), 400);
  EXPECT_TRUE(other.AwaitServerClose(5000));

  std::vector<ReportRecord> stored = Stored();
  ASSERT_EQ(stored.size(), 3u);
  EXPECT_EQ(stored[0].event_id, 3000);
  EXPECT_EQ(stored[0].description, "Launched Bootstrapper on user's machine.");
  EXPECT_EQ(stored[1].agent, "?");
  EXPECT_EQ(stored[2].description, "Bootstrapper exited.");
  EXPECT_EQ(stored[2].sender, "127.0.0.1");
  EXPECT_EQ(stored[2].timestamp, kTime);
  EXPECT_GT(stored[2].received_ms, 1700000000000);

  std::string metrics;
  ASSERT_EQ(client.Send("GET /metrics HTTP/1.1", &metrics), 200);
  EXPECT_NE(metrics.find("kestrel_collector_records_total 3\n"), std::string::npos) << metrics;
  EXPECT_NE(metrics.find("kestrel_collector_rejects_total 6\n"), std::string::npos) << metrics;
  EXPECT_NE(metrics.find("kestrel_collector_requests_total 9\n"), std::string::npos) << metrics;
  EXPECT_NE(metrics.find("kestrel_collector_commit_seconds_count 3\n"), std::string::npos);
  std::string page;
  ASSERT_EQ(client.Send("GET /report HTTP/1.1", &page), 200);
  EXPECT_NE(page.find("<svg"), std::string::npos);
  EXPECT_NE(page.find("3 reports from 1 runs"), std::string::npos);
}

// Concurrent senders share commits, and every one that got its 200 is stored.
TEST_F(CollectorServerTest, ConcurrentReportsShareCommits) {
  constexpr int kClients = 12, kEach = 40;
  std::atomic<int> answered{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([this, c, &answered] {
      RawClient client(port_);
      for (int i = 0; i < kEach; ++i) {
        const std::string token = "run-" + std::to_string(c) + "-" + std::to_string(i);
        if (client.Send(ReportLine(token, 3000, kTime, i % 2 == 0)) == 200) ++answered;
      }
    });
  }
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(answered.load(), kClients * kEach);
  EXPECT_EQ(Stored().size(), static_cast<size_t>(kClients * kEach));
  EXPECT_EQ(server_->metrics().records(), static_cast<uint64_t>(kClients * kEach));
  EXPECT_LT(server_->metrics().commits(), static_cast<uint64_t>(kClients * kEach));
}

}  // namespace
