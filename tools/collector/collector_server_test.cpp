#include "tools/collector/collector_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <tuple>

#include "tests/collector/test_support.h"

namespace collector {

namespace {

using collector_test::OpenConnections;
using collector_test::RawClient;
using collector_test::ReportLine;

constexpr char kTime[] = "2026-12-07 22:56:28.094";

ServerOptions TestOptions() {
  ServerOptions options;
  options.host = "127.0.0.1";
  options.port = 0;
  options.admin_port = 0;
  options.threads = 16;
  options.limits.keep_alive_ms = 2000;
  return options;
}

// A real server on loopback ports of its own, over an SQLite file.
class CollectorServerTest : public testing::Test {
 protected:
  void SetUp() override { Start(TestOptions()); }

  void Start(const ServerOptions& options) {
    std::string error;
    store_ = OpenStore(folder_.path() + "/reports.db", &error);
    ASSERT_TRUE(store_) << error;
    server_ = std::make_unique<CollectorServer>(*store_, options);
    port_ = server_->Bind();
    ASSERT_GT(port_, 0) << server_->bind_error();
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
  const diagnostics::EventRecord launched{
      "run-a", "?", {}, 7003, "Successfully launched Torvane Agent.", kTime};
  EXPECT_EQ(client.Send(ReportLine("run-a", FormatEventRecord(launched), true)), 200);
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
  EXPECT_EQ(stored[2].sender, "127.0.0.0");  // stored without its last octet
  EXPECT_EQ(stored[2].timestamp, kTime);
  EXPECT_GT(stored[2].received_ms, 1700000000000);

  std::string metrics;
  RawClient admin(server_->admin_port());
  ASSERT_EQ(admin.Send("GET /metrics HTTP/1.1", &metrics), 200);
  EXPECT_NE(metrics.find("kestrel_collector_records_total 3\n"), std::string::npos) << metrics;
  EXPECT_NE(metrics.find("kestrel_collector_rejects_total 6\n"), std::string::npos) << metrics;
  EXPECT_NE(metrics.find("kestrel_collector_requests_total 9\n"), std::string::npos) << metrics;
  EXPECT_NE(metrics.find("kestrel_collector_commit_seconds_count 3\n"), std::string::npos);
  std::string page;
  ASSERT_EQ(admin.Send("GET /report HTTP/1.1", &page), 200);
  EXPECT_NE(page.find("<svg"), std::string::npos);
  EXPECT_NE(page.find("3 reports from 1 runs"), std::string::npos);
  // The page's other views: what each query shows, or why it is refused.
  const std::tuple<const char*, int, const char*> views[] = {
      {"/report?compare=a&with=%3Cb%3E", 200,
       "<h2 id=\"compare\">Build a against build &lt;b&gt;</h2>"},
      {"/report?until=2000-01-01", 200, "0 reports from 0 runs, received before 2000-01-01."},
      {"/report?since=2000-01-01+10:00&compare=a&with=b", 200,
       "3 reports from 1 runs, received from 2000-01-01 10:00"},
      {"/report?compare=a", 400, "compare= and with= name two builds"},
      {"/report?since=2026-13-01", 400, "since takes YYYY-MM-DD[ hh:mm[:ss]]"},
      {"/report?until=2026-12-01+1", 400, "until takes YYYY-MM-DD[ hh:mm[:ss]]"},  // half an hour
  };
  for (const auto& [target, status, shown] : views) {
    EXPECT_EQ(admin.Send("GET " + std::string(target) + " HTTP/1.1", &page), status) << target;
    EXPECT_NE(page.find(shown), std::string::npos) << target << "\n" << page;
  }
}

// Concurrent senders (machines of their own) share commits, and every one
// that got its 200 is stored.
TEST_F(CollectorServerTest, ConcurrentReportsShareCommits) {
  constexpr int kClients = 12, kEach = 40;
  std::atomic<int> answered{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([this, c, &answered] {
      RawClient client(port_, "127.0.1." + std::to_string(c + 1));
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

// Past the operator's bound on the store's size, reports are refused and
// counted, and nothing more is written.
class FullStoreTest : public CollectorServerTest {
 protected:
  void SetUp() override {
    ServerOptions options = TestOptions();
    options.max_store_bytes = 1;
    Start(options);
  }
};

TEST_F(FullStoreTest, ReportsAreRefused) {
  RawClient client(port_);
  EXPECT_EQ(client.Send(ReportLine("run-a", 3000, kTime)), 503);
  EXPECT_EQ(server_->metrics().refusals(Refusal::kStoreFull), 1u);
  EXPECT_TRUE(Stored().empty());
}

// The server as anyone on the internet may use it. Each row attacks a fresh
// server and, while the attack holds or just after it, sends one real report
// from another address, which must be answered 200 within a second and be
// stored; then the row checks what the server did to the attacker.
class HostileClientTest : public CollectorServerTest,
                          public testing::WithParamInterface<struct HostileRow> {
 protected:
  void SetUp() override {
    ServerOptions options = TestOptions();
    options.limits.keep_alive_ms = 1000;
    options.limits.head_timeout_ms = 1500;
    options.limits.address.connections = 8;
    options.limits.address.request_burst = 40;
    options.limits.address.requests_per_second = 0.01;
    options.limits.max_connections = 520;
    Start(options);
  }

 public:
  void RealReport() {
    ++real_reports_;
    RawClient real(port_, "127.0.0.2");
    ASSERT_TRUE(real.SendBytes(ReportLine("real-report", 3000, kTime) + "\r\nHost: x\r\n\r\n"));
    EXPECT_EQ(real.ReadAnswer(1000), 200);
    size_t found = 0;
    for (const ReportRecord& r : Stored()) found += r.token == "real-report";
    EXPECT_EQ(found, 1u);
  }
  uint64_t Refused(Refusal why) const { return server_->metrics().refusals(why); }
  const Metrics& server_metrics() const { return server_->metrics(); }
  int port() const { return port_; }
  int admin_port() const { return server_->admin_port(); }
  std::vector<ReportRecord> StoredRecords() { return Stored(); }
  int real_reports_ = 0;
};

struct HostileRow {
  const char* name;
  std::function<void(HostileClientTest&)> run;
};

// A head that refuses itself: its answer, then the end of the connection.
void ExpectRefusedHead(HostileClientTest& t, const std::string& head, int status, Refusal why) {
  RawClient attacker(t.port(), "127.0.0.3");
  attacker.SendBytes(head);  // the server may stop reading before its end
  EXPECT_EQ(attacker.ReadAnswer(5000), status);
  EXPECT_TRUE(attacker.AwaitServerClose(5000));
  EXPECT_EQ(t.Refused(why), 1u);
  t.RealReport();
}

std::string Report(const std::string& token) {
  return ReportLine(token, 3000, kTime) + "\r\nHost: x\r\n";
}

const HostileRow kHostileRows[] = {
    {"IdleConnections",
     [](HostileClientTest& t) {
       auto idle = OpenConnections(t.port(), 2, 500, 8);
       t.RealReport();
       // Each ends after the keep-alive wait, unanswered.
       for (auto& c : idle) EXPECT_TRUE(c->AwaitServerClose(10000));
       EXPECT_EQ(t.Refused(Refusal::kHeadDeadline), 0u);
     }},
    {"HeadsThatTrickle",
     [](HostileClientTest& t) {
       auto slow = OpenConnections(t.port(), 3, 64, 8);
       std::atomic<bool> stop{false};
       // A byte a connection every 100 ms, for longer than the head's deadline.
       std::thread trickle([&slow, &stop] {
         for (int round = 0; round < 25 && !stop; ++round) {
           for (auto& c : slow) c->SendBytes(round == 0 ? "GET /?TOKEN='slow" : "a");
           std::this_thread::sleep_for(std::chrono::milliseconds(100));
         }
       });
       std::this_thread::sleep_for(std::chrono::milliseconds(300));
       t.RealReport();
       trickle.join();
       for (auto& c : slow) EXPECT_TRUE(c->AwaitServerClose(5000));
       EXPECT_EQ(t.Refused(Refusal::kHeadDeadline), 64u);
     }},
    {"AHeadPastItsBytes",
     [](HostileClientTest& t) {
       std::string head = "GET /?TOKEN='big' HTTP/1.1\r\n";
       while (head.size() < 64 * 1024) head += "X-Filler: " + std::string(4000, 'a') + "\r\n";
       ExpectRefusedHead(t, head + "\r\n", 400, Refusal::kHeadTooLarge);
     }},
    {"AHeadPastItsLines",
     [](HostileClientTest& t) {
       std::string head = Report("many");
       for (int i = 0; i < 101; ++i) head += "A: b\r\n";
       ExpectRefusedHead(t, head + "\r\n", 400, Refusal::kTooManyHeaderLines);
     }},
    {"ARequestLinePastItsBytes",
     [](HostileClientTest& t) {
       ExpectRefusedHead(t, "GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n", 414,
                         Refusal::kRequestLineTooLong);
     }},
    {"RangesAreIgnored",
     [](HostileClientTest& t) {
       std::string range = "Range: bytes=0-0";
       while (range.size() < 8000) range += ",0-";
       RawClient attacker(t.port(), "127.0.0.3");
       std::string head;
       ASSERT_TRUE(attacker.SendBytes(Report("ranged") + range + "\r\n\r\n"));
       EXPECT_EQ(attacker.ReadAnswer(5000, nullptr, &head), 200);
       EXPECT_EQ(head.find("Content-Range"), std::string::npos) << head;
       RawClient admin(t.admin_port());
       std::string whole, ranged;
       ASSERT_EQ(admin.Send("GET /report HTTP/1.1", &whole), 200);
       ASSERT_TRUE(admin.SendBytes("GET /report HTTP/1.1\r\n" + range + "\r\n\r\n"));
       EXPECT_EQ(admin.ReadAnswer(5000, &ranged), 200);
       EXPECT_EQ(ranged, whole);
       t.RealReport();
     }},
    {"ABodyIsNoNextRequest",
     [](HostileClientTest& t) {
       const std::string smuggled = Report("smuggled") + "\r\n";
       ExpectRefusedHead(t,
                         "POST / HTTP/1.1\r\nContent-Length: " + std::to_string(smuggled.size()) +
                             "\r\n\r\n" + smuggled,
                         400, Refusal::kBody);
       for (const ReportRecord& r : t.StoredRecords()) EXPECT_NE(r.token, "smuggled");
       // The 400 and the real report: the body was not answered as a request.
       EXPECT_EQ(t.server_metrics().requests(), 2u);
     }},
    {"AChunkedBodyIsRefused",
     [](HostileClientTest& t) {
       ExpectRefusedHead(
           t, Report("chunked") + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", 400,
           Refusal::kBody);
       for (const ReportRecord& r : t.StoredRecords()) EXPECT_NE(r.token, "chunked");
     }},
    {"ConnectionsFromOneAddress",
     [](HostileClientTest& t) {
       auto held = OpenConnections(t.port(), 0, 8, 8);  // 127.0.0.1, the bound
       RawClient one_more(t.port(), "127.0.0.1");
       ASSERT_TRUE(one_more.Connect());
       EXPECT_TRUE(one_more.AwaitServerClose(5000));
       EXPECT_EQ(t.Refused(Refusal::kConnectionsPerAddress), 1u);
       EXPECT_EQ(held.back()->Send(ReportLine("held", 3000, kTime)), 200);
       t.RealReport();
     }},
    {"TheReportPortFullLeavesTheOperatorIn",
     [](HostileClientTest& t) {
       auto flood = OpenConnections(t.port(), 4, 521, 8);  // one past the bound
       EXPECT_TRUE(flood.back()->AwaitServerClose(5000));
       EXPECT_EQ(t.Refused(Refusal::kConnections), 1u);
       RawClient admin(t.admin_port());
       EXPECT_EQ(admin.Send("GET /healthz HTTP/1.1"), 200);
       flood.clear();
       for (int i = 0; i < 500 && t.server_metrics().open_connections() > 1; ++i) {
         std::this_thread::sleep_for(std::chrono::milliseconds(10));
       }
       t.RealReport();
     }},
    {"OneAddressSpendsItsBudget",
     [](HostileClientTest& t) {
       RawClient attacker(t.port(), "127.0.0.3");
       for (int i = 0; i < 40; ++i) ASSERT_EQ(attacker.Send(ReportLine("flood", 3000, kTime)), 200);
       ASSERT_TRUE(attacker.SendBytes(Report("flood") + "\r\n"));
       EXPECT_EQ(attacker.ReadAnswer(5000), 0);  // closed unanswered: a sender sends it again
       EXPECT_EQ(t.Refused(Refusal::kRate), 1u);
       t.RealReport();
     }},
    {"TheOperatorsPagesAreNotOnTheReportPort",
     [](HostileClientTest& t) {
       RawClient attacker(t.port(), "127.0.0.3");
       EXPECT_EQ(attacker.Send("GET /report HTTP/1.1"), 400);
       EXPECT_EQ(attacker.Send("GET /metrics HTTP/1.1"), 400);
       EXPECT_EQ(attacker.Send("GET /healthz HTTP/1.1"), 400);
       t.RealReport();
       RawClient admin(t.admin_port());
       std::string metrics;
       EXPECT_EQ(admin.Send("GET /metrics HTTP/1.1", &metrics), 200);
       EXPECT_NE(metrics.find("kestrel_collector_records_total 1\n"), std::string::npos);
       EXPECT_EQ(admin.Send("GET / HTTP/1.1"), 404);
       std::string health;
       EXPECT_EQ(admin.Send("GET /healthz HTTP/1.1", &health), 200);
       EXPECT_NE(health.find("ok\n"), std::string::npos) << health;
     }},
};

TEST_P(HostileClientTest, RealReportsAreStillAnswered) {
  GetParam().run(*this);
  EXPECT_EQ(real_reports_, 1);
}

INSTANTIATE_TEST_SUITE_P(Attacks, HostileClientTest, testing::ValuesIn(kHostileRows),
                         [](const testing::TestParamInfo<HostileRow>& row) {
                           return std::string(row.param.name);
                         });

}  // namespace

}  // namespace collector
