#include "diagnostics/report_sender.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "diagnostics/error_texts.h"
#include "diagnostics/event_catalog.h"
#include "diagnostics/event_logger.h"
#include "diagnostics/event_record.h"
#include "diagnostics/request_encoding.h"
#include "tests/event_log_reader.h"
#include "tests/fake_registry.h"
#include "tests/servers/loopback_http_server.h"
#include "tests/test_paths.h"

namespace diagnostics {

namespace {

using testing_logs::ReadLogLines;
using testing_servers::LoopbackHttpServer;
using testing_servers::RecordedRequest;
using testing_servers::ResponsePlan;

constexpr uint32_t kIdleWaitMs = 100;
constexpr uint32_t kDrainLimitMs = 500;

// The logger's waits shortened for a test, reporting to a loopback port.
EventLoggerOptions ShortWaits(int port, platform::Registry* registry,
                              uint32_t idle_wait_ms = kIdleWaitMs,
                              uint32_t drain_limit_ms = kDrainLimitMs) {
  EventLoggerOptions options;
  options.idle_wait_ms = idle_wait_ms;
  options.drain_limit_ms = drain_limit_ms;
  options.log_server_port = port;
  options.registry = registry;
  return options;
}

void SleepMs(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// The EVENTID of a report, read from its request target.
std::string EventIdOf(const RecordedRequest& request) {
  const std::optional<EventRecord> report = ParseReportTarget(request.target);
  return report ? std::to_string(report->event_id) : std::string();
}

// A logger reporting to a loopback server. On a free port: the product's
// port 80 is asserted with the other defaults, and another suite running on
// the machine may hold it.
class ReportSenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(server_.Start(0), LoopbackHttpServer::StartResult::kOk);
    ASSERT_FALSE(folder_.path().empty());
    logger_.reset(new EventLogger(folder_.path(), ShortWaits(server_.port(), &registry_)));
    logger_->SetLogServer("127.0.0.1");
  }
  void TearDown() override {
    if (logger_) logger_->Finish();
  }
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    EXPECT_TRUE(ReadLogLines(logger_->log_path(), &lines));
    return lines;
  }
  std::string ExpectedTarget(const std::string& record) {
    // The HTTP layer puts the object name on the server's root.
    return "/" + EncodeRequestTarget("?TOKEN='" + logger_->RunId() + "'," + record);
  }

  LoopbackHttpServer server_;
  test_paths::ScratchFolder folder_;
  FakeRegistry registry_;
  std::unique_ptr<EventLogger> logger_;
};

TEST_F(ReportSenderTest, RecordsAreHeldUntilReportingStarts) {
  logger_->Post(kLaunched);
  logger_->Post(kDataDetachmentStarted);
  logger_->Post(kConfigurationDetached);
  SleepMs(4 * kIdleWaitMs);
  EXPECT_EQ(server_.RequestCount(), 0u);
  EXPECT_EQ(LogLines().size(), 3u);

  logger_->Post(kStartReportingCommand);
  ASSERT_TRUE(server_.WaitForRequests(3, 5000));
  logger_->Post(kProgressInitialised);
  ASSERT_TRUE(server_.WaitForRequests(4, 5000));
  logger_->Finish();
  EXPECT_EQ(LogLines().size(), 4u);  // the start-reporting command wrote nothing
  EXPECT_EQ(server_.RequestCount(), 4u);
}

// Everything held since start-up goes out in one pass: one connection, one GET
// per record, in the order of the file.
TEST_F(ReportSenderTest, TwentyHeldRecordsGoOutInOrderOverOneConnection) {
  for (EventId id = kDotNetPrimaryDownloadStarted; id < kFlashDownloadCompleted; ++id)
    logger_->Post(id);
  SleepMs(2 * kIdleWaitMs);
  logger_->Post(kStartReportingCommand);
  ASSERT_TRUE(server_.WaitForRequests(20, 5000));
  logger_->Finish();

  std::vector<std::string> lines = LogLines();
  std::vector<RecordedRequest> requests = server_.Requests();
  ASSERT_EQ(lines.size(), 20u);
  ASSERT_EQ(requests.size(), 20u);
  for (size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].method, "GET");
    EXPECT_EQ(requests[i].target, ExpectedTarget(lines[i]));
    EXPECT_EQ(requests[i].connection, requests[0].connection) << i;
    EXPECT_EQ(requests[i].Header("User-Agent"), "TORVANE_NETWORKS_WF");
    EXPECT_EQ(requests[i].Header("Host").find("127.0.0.1"), 0u);
    EXPECT_EQ(EventIdOf(requests[i]), std::to_string(5000 + i));
  }
  EXPECT_EQ(requests[0].target.find("/?TOKEN='" + logger_->RunId() + "',EVENTID='5000',"), 0u);
  EXPECT_EQ(server_.ConnectionCount(), 1);
}

// With A, B and C waiting and A failing, the next pass sends B, C, then A.
// (The server resets the connection: an empty answer closed with FIN counts
// as sent under Wine's WinINet, which takes it for an HTTP/0.9 reply.)
TEST_F(ReportSenderTest, FailedRecordIsRetriedBehindTheOthers) {
  server_.SetResponder([](const RecordedRequest& request) {
    return request.index == 0 ? ResponsePlan::ResetWithoutAnswer() : ResponsePlan::Status(200);
  });
  logger_->Post(kLaunched);        // A
  logger_->Post(kOsCheckStarted);  // B
  logger_->Post(kOsUnsupported);   // C
  logger_->Post(kStartReportingCommand);
  server_.WaitForRequests(4, 5000);
  SleepMs(4 * kIdleWaitMs);
  std::vector<RecordedRequest> requests = server_.Requests();
  std::string seen;
  for (const RecordedRequest& request : requests) seen += " " + EventIdOf(request);
  ASSERT_EQ(requests.size(), 4u) << "event ids seen:" << seen;
  EXPECT_EQ(EventIdOf(requests[0]), "3000");
  EXPECT_EQ(EventIdOf(requests[1]), "3001");
  EXPECT_EQ(EventIdOf(requests[2]), "3002");
  EXPECT_EQ(EventIdOf(requests[3]), "3000");
  EXPECT_EQ(requests[3].target, requests[0].target);
}

// The answer is not examined: a server error still counts as delivered.
TEST_F(ReportSenderTest, ErrorAnswerIsNotRetried) {
  server_.SetDefaultResponse(ResponsePlan::Status(500));
  logger_->Post(kStartReportingCommand);
  logger_->Post(kDotNetInstallStarted);
  logger_->Post(kDotNetInstallFailed);
  ASSERT_TRUE(server_.WaitForRequests(2, 5000));
  SleepMs(4 * kIdleWaitMs);
  auto start = std::chrono::steady_clock::now();
  logger_->Finish();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kDrainLimitMs));
  EXPECT_EQ(server_.RequestCount(), 2u);
}

TEST_F(ReportSenderTest, FinishWithoutReportingMakesNoRequest) {
  for (EventId id = kLaunched; id < kSingleInstanceRunning; ++id) logger_->Post(id);
  auto start = std::chrono::steady_clock::now();
  logger_->Finish();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  SleepMs(2 * kIdleWaitMs);
  EXPECT_EQ(server_.RequestCount(), 0u);
  EXPECT_EQ(LogLines().size(), 6u);
}

// An error text may carry anything a server sent back: a line break must not
// split the report into a request line and a header of its own, and '#', '%'
// and 8-bit bytes must not cut or garble the target.
TEST_F(ReportSenderTest, ErrorTextIsEncodedIntoOneRequestTarget) {
  PostErrorEvent(*logger_, kHttpError, "bad\r\nX-Injected: 1 #2 100% \x92");
  logger_->Post(kStartReportingCommand);
  ASSERT_TRUE(server_.WaitForRequests(1, 5000));
  SleepMs(2 * kIdleWaitMs);
  std::vector<RecordedRequest> requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].target.find(
                "DESC='HTTP%20ERROR:%20bad%0D%0AX-Injected:%201%20%232%20100%25%20%92',"),
            std::string::npos)
      << requests[0].target;
  EXPECT_FALSE(requests[0].HasHeader("X-Injected"));
}

// Nothing listens: at exit the sender retries for the drain limit, then gives
// up; the records stay in the file.
// The sender counts whole ticks of the millisecond clock from the Finish
// call, so a drain of N ticks may last N - 1 ms and a fraction.
template <typename Duration>
void ExpectAtLeastTheDrain(Duration elapsed, uint32_t drain_limit_ms) {
  EXPECT_GE(elapsed, std::chrono::milliseconds(drain_limit_ms - 1));
}

TEST(ReportSenderDrainTest, GivesUpAfterTheDrainLimit) {
  LoopbackHttpServer closed;
  ASSERT_EQ(closed.Start(0), LoopbackHttpServer::StartResult::kOk);
  int closed_port = closed.port();
  closed.Stop();

  test_paths::ScratchFolder folder;
  FakeRegistry registry;
  const EventLoggerOptions options = ShortWaits(closed_port, &registry);
  EventLogger logger(folder.path(), options);
  logger.SetLogServer("127.0.0.1");
  logger.Enqueue("EVENTID='1'");
  logger.Enqueue("EVENTID='2'");
  logger.StartReporting();
  auto start = std::chrono::steady_clock::now();
  logger.Finish();
  auto elapsed = std::chrono::steady_clock::now() - start;
  ExpectAtLeastTheDrain(elapsed, kDrainLimitMs);
  EXPECT_LT(elapsed, std::chrono::milliseconds(kDrainLimitMs + 3000));
  std::vector<std::string> lines;
  ASSERT_TRUE(ReadLogLines(logger.log_path(), &lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"EVENTID='1'", "EVENTID='2'"}));
}

// A log server that accepts and never answers: each attempt ends at the
// report time-outs, and the exit comes at the drain limit, not at the first
// idle wake-up after it. Every record stays in the file.
TEST(ReportSenderDrainTest, ASilentServerHoldsTheExitOnlyForTheDrainAndItsAttempts) {
  constexpr uint32_t kTimeoutMs = 300;
  LoopbackHttpServer silent;
  ASSERT_EQ(silent.Start(0), LoopbackHttpServer::StartResult::kOk);
  silent.SetDefaultResponse(ResponsePlan::Silent());
  testing_servers::ServerWatchdog watchdog(silent, 20000);

  test_paths::ScratchFolder folder;
  FakeRegistry registry;
  EventLoggerOptions options = ShortWaits(silent.port(), &registry, 10000, 1000);
  options.report_timeout_ms = kTimeoutMs;
  EventLogger logger(folder.path(), options);
  logger.SetLogServer("127.0.0.1");
  logger.Enqueue("EVENTID='1'");
  logger.Enqueue("EVENTID='2'");
  logger.StartReporting();
  ASSERT_TRUE(silent.WaitForRequests(1, 5000));
  auto start = std::chrono::steady_clock::now();
  logger.Finish();
  const long long elapsed_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count();
  EXPECT_FALSE(watchdog.Dismiss()) << "a report waited until the server stopped";
  ExpectAtLeastTheDrain(std::chrono::milliseconds(elapsed_ms), options.drain_limit_ms);
  // The drain counts from Finish; the attempt in progress at its end is the
  // last, and it has one deadline.
  EXPECT_LT(elapsed_ms, options.drain_limit_ms + kTimeoutMs + 1000);
  // The attempt Finish found under way, and the last try at the drain limit.
  EXPECT_GE(silent.RequestCount(), 2u);
  std::vector<std::string> lines;
  ASSERT_TRUE(ReadLogLines(logger.log_path(), &lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"EVENTID='1'", "EVENTID='2'"}));
}

// While a report waits for the server, records keep coming: all those waiting
// go to the file before the next attempt, not one per attempt.
TEST(ReportSenderDrainTest, RecordsWaitingReachTheFileBeforeTheNextAttempt) {
  std::mutex mutex;
  std::condition_variable released;
  bool release = false;
  LoopbackHttpServer server;
  ASSERT_EQ(server.Start(0), LoopbackHttpServer::StartResult::kOk);
  // The first report is answered when the test says so; later ones never.
  server.SetResponder([&](const RecordedRequest& request) {
    if (request.index > 0) return ResponsePlan::Silent();
    std::unique_lock<std::mutex> lock(mutex);
    released.wait_for(lock, std::chrono::seconds(10), [&] { return release; });
    return ResponsePlan::Status(200);
  });
  testing_servers::ServerWatchdog watchdog(server, 20000);

  test_paths::ScratchFolder folder;
  FakeRegistry registry;
  EventLoggerOptions options = ShortWaits(server.port(), &registry, 10000, 200);
  options.report_timeout_ms = 30000;  // the attempts hang until the server stops
  EventLogger logger(folder.path(), options);
  logger.SetLogServer("127.0.0.1");
  logger.StartReporting();
  logger.Enqueue("EVENTID='0'");
  ASSERT_TRUE(server.WaitForRequests(1, 5000));
  std::vector<std::string> expected = {"EVENTID='0'"};
  for (int id = 1; id <= 10; ++id) {
    expected.push_back("EVENTID='" + std::to_string(id) + "'");
    logger.Enqueue(expected.back());
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  released.notify_all();
  ASSERT_TRUE(server.WaitForRequests(2, 5000));  // the next attempt, which hangs
  std::vector<std::string> lines;
  ASSERT_TRUE(ReadLogLines(logger.log_path(), &lines));
  EXPECT_EQ(lines, expected);
  server.Stop();
  logger.Finish();
  EXPECT_FALSE(watchdog.Dismiss());
}

// An empty server name sends nothing, yet the drain is still waited out.
TEST(ReportSenderDrainTest, EmptyServerNameStillWaitsOutTheDrain) {
  test_paths::ScratchFolder folder;
  FakeRegistry registry;
  const EventLoggerOptions options = ShortWaits(80, &registry);  // no server: the name is empty
  EventLogger logger(folder.path(), options);
  logger.SetLogServer("");
  logger.StartReporting();
  logger.Enqueue("EVENTID='1'");
  auto start = std::chrono::steady_clock::now();
  logger.Finish();
  ExpectAtLeastTheDrain(std::chrono::steady_clock::now() - start, kDrainLimitMs);
}

}  // namespace

// The log server misbehaving at exit, one row per fault: every record is in
// the file, and the exit waits at most the drain and the one attempt in
// progress when it ends (at once when everything was delivered).
TEST(ReportSenderDrainTest, AHostileLogServerHoldsTheExitAtMostTheDrainAndOneAttempt) {
  constexpr uint32_t kTimeoutMs = 300;
  constexpr uint32_t kDrainMs = 1000;
  struct Row {
    const char* fault;
    bool refused;
    ResponsePlan plan;
    bool drains;  // records are left when Finish comes
  };
  ResponsePlan slow = ResponsePlan::Status(200);
  slow.delay_before_answer_ms = kTimeoutMs - 100;  // each answer just within the time-outs
  const Row rows[] = {
      {"refused", true, ResponsePlan::Status(200), true},
      {"accepts, never answers", false, ResponsePlan::Silent(), true},
      {"answers slowly", false, slow, true},
      {"500 to everything", false, ResponsePlan::Status(500, "<html>\r\nfailed\r\n</html>"), false},
      // Each line well within the time-outs, the head far beyond them.
      {"head a line at a time", false, ResponsePlan::TrickleHead(40, kTimeoutMs / 3), true},
      // The body is not read, so a head in time is a delivery.
      {"body a byte at a time", false, ResponsePlan::Trickle(100000, 50), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    LoopbackHttpServer server;
    ASSERT_EQ(server.Start(0), LoopbackHttpServer::StartResult::kOk);
    const int port = server.port();
    if (row.refused) server.Stop();
    server.SetDefaultResponse(row.plan);
    testing_servers::ServerWatchdog watchdog(server, 20000);

    test_paths::ScratchFolder folder;
    FakeRegistry registry;
    EventLoggerOptions options = ShortWaits(port, &registry, 10000, kDrainMs);
    options.report_timeout_ms = kTimeoutMs;
    EventLogger logger(folder.path(), options);
    logger.SetLogServer("127.0.0.1");
    std::vector<std::string> records;
    for (int i = 1; i <= 30; ++i) {
      records.push_back("EVENTID='" + std::to_string(i) + "'");
      logger.Enqueue(records.back());
    }
    logger.StartReporting();
    // Finish comes while a pass is under way, as at a real exit.
    if (!row.refused) {
      ASSERT_TRUE(server.WaitForRequests(1, 5000));
    }
    const auto start = std::chrono::steady_clock::now();
    logger.Finish();
    const long long elapsed_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count();
    EXPECT_FALSE(watchdog.Dismiss()) << "a report waited until the server stopped";
    std::printf("[ row      ] %-24s exit after %lld ms, %d requests\n", row.fault, elapsed_ms,
                static_cast<int>(server.RequestCount()));
    // One attempt: its exchange has one deadline.
    const long long attempt_ms = kTimeoutMs;
    if (row.drains) {
      EXPECT_GE(elapsed_ms + 1, kDrainMs);
      EXPECT_LT(elapsed_ms, kDrainMs + attempt_ms + 500);
    } else {
      EXPECT_LT(elapsed_ms, 2000);
      EXPECT_EQ(server.RequestCount(), records.size()) << "a 500 counts as delivered";
    }
    std::vector<std::string> lines;
    ASSERT_TRUE(ReadLogLines(logger.log_path(), &lines));
    EXPECT_EQ(lines, records);
  }
}

}  // namespace diagnostics
