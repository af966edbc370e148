#include "diagnostics/event_logger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <regex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "diagnostics/error_texts.h"
#include "diagnostics/event_catalog.h"
#include "diagnostics/startup_error.h"
#include "tests/event_log_reader.h"
#include "tests/fake_registry.h"
#include "tests/test_paths.h"

namespace diagnostics {

namespace {

using testing_logs::ReadLogLines;

const char kTimestamp[] = R"(TIMESTAMP='\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}')";

// A logger writing to a scratch folder, with no log server to reach: every
// test here finishes before reporting would send anything.
class EventLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    options_.idle_wait_ms = 100;
    options_.drain_limit_ms = 300;
    options_.registry = &registry_;
  }
  void TearDown() override {
    if (logger_) logger_->Finish();
  }
  void StartLogger() {
    logger_.reset(new EventLogger(folder_.path(), options_));
    logger_->SetLogServer("");
  }
  std::vector<std::string> FinishAndReadLines() {
    logger_->Finish();
    std::vector<std::string> lines;
    EXPECT_TRUE(ReadLogLines(logger_->log_path(), &lines));
    return lines;
  }

  test_paths::ScratchFolder folder_;
  FakeRegistry registry_;
  EventLoggerOptions options_;
  std::unique_ptr<EventLogger> logger_;
};

TEST_F(EventLoggerTest, NewRunEmptiesTheFileAndWritesTheBanner) {
  std::string path = folder_.File("TorvaneLogFile.txt");
  ASSERT_TRUE(test_paths::WriteWholeFile(path, "a line of the previous run\n"));
  StartLogger();
  EXPECT_EQ(logger_->log_path(), path);
  logger_->Finish();
  std::string bytes;
  ASSERT_TRUE(test_paths::ReadWholeFile(path, &bytes));
  EXPECT_EQ(bytes, testing_logs::ExpectedBanner());
}

TEST_F(EventLoggerTest, MissingFolderFailsWithTheStartUpText) {
  try {
    EventLogger logger(folder_.File("no-such-folder"), options_);
    FAIL() << "constructed without a log file";
  } catch (const StartupError& error) {
    EXPECT_STREQ(error.what(), "Error: Could not open the log file");
  }
}

TEST_F(EventLoggerTest, RecordsAreWrittenOneLineEachInPostingOrder) {
  StartLogger();
  logger_->Post(kLaunched);
  logger_->Post(-5);
  logger_->Post(12345);
  PostErrorEvent(*logger_, kHttpError, "100% of nothing");
  logger_->ReportWatermark("wm-1");
  // A text read from a file may hold a NUL: it ends the value, not the record.
  PostErrorEvent(*logger_, kInstallationError, std::string("cut\0off", 7));
  std::vector<std::string> lines = FinishAndReadLines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_TRUE(std::regex_match(
      lines[0], std::regex(std::string("EVENTID='3000',DESC='Launched Bootstrapper on user's "
                                       "machine\\.',") +
                           kTimestamp)))
      << lines[0];
  EXPECT_TRUE(std::regex_match(
      lines[1], std::regex(std::string("EVENTID='-5',DESC='Event Not defined\\.',") + kTimestamp)))
      << lines[1];
  EXPECT_EQ(lines[2].find("EVENTID='12345',DESC='Event Not defined.',TIMESTAMP='"), 0u);
  EXPECT_EQ(lines[3].find("EVENTID='9058',DESC='HTTP ERROR: 100% of nothing',TIMESTAMP='"), 0u);
  EXPECT_TRUE(std::regex_match(
      lines[4], std::regex(std::string("WATERMARK='wm-1',EVENTID='3021',DESC='Reporting "
                                       "Bootstrapper configuration watermark value',") +
                           kTimestamp)))
      << lines[4];
  EXPECT_TRUE(std::regex_match(
      lines[5],
      std::regex(std::string("EVENTID='9060',DESC='INSTALLATION ERROR: cut',") + kTimestamp)))
      << lines[5];
}

// Reporting never switched on: Finish hands back at once and nothing is lost
// from the file.
TEST_F(EventLoggerTest, FinishWithoutReportingReturnsPromptly) {
  StartLogger();
  for (EventId id = kPrerequisiteCheckStarted; id < 4008; ++id) logger_->Post(id);
  auto start = std::chrono::steady_clock::now();
  std::vector<std::string> lines = FinishAndReadLines();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(lines.size(), 8u);
}

TEST_F(EventLoggerTest, RunIdIsANewUuidText) {
  StartLogger();
  test_paths::ScratchFolder other_folder;
  EventLogger other(other_folder.path(), options_);
  std::regex uuid("[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}");
  EXPECT_TRUE(std::regex_match(logger_->RunId(), uuid)) << logger_->RunId();
  EXPECT_NE(logger_->RunId(), other.RunId());
  other.Finish();
}

// The download and install threads report errors at the same time: each
// record must carry its own thread's text.
TEST_F(EventLoggerTest, ConcurrentErrorPostsKeepTheirOwnTexts) {
  StartLogger();
  // The window between a store and its post is short: it takes many rounds
  // for a missing lock to show.
#ifdef _WIN32
  const int kEach = 5000;  // Wine's thread switches are slower and wider
#else
  const int kEach = 20000;
#endif
  std::atomic<int> ready{0};
  auto poster = [this, &ready](EventId category, const std::string& text) {
    // Both start together, so their store-and-post pairs overlap.
    ready.fetch_add(1);
    while (ready.load() < 2) {
    }
    for (int i = 0; i < kEach; ++i) PostErrorEvent(*logger_, category, text + std::to_string(i));
  };
  std::thread download(poster, 9058, "download ");
  std::thread install(poster, 9060, "install ");
  download.join();
  install.join();
  std::vector<std::string> lines = FinishAndReadLines();
  ASSERT_EQ(lines.size(), 2u * kEach);
  int downloads = 0;
  for (const std::string& line : lines) {
    if (line.find("EVENTID='9058',DESC='HTTP ERROR: download ") == 0) {
      ++downloads;
    } else {
      EXPECT_EQ(line.find("EVENTID='9060',DESC='INSTALLATION ERROR: install "), 0u) << line;
    }
  }
  EXPECT_EQ(downloads, kEach);
}

// The product's figures; every test that waits shortens them.
// Records queued from several threads at once: every one reaches the file
// whole, each thread's in its posting order, also past the queue's count limit.
class EventLoggerLoadTest : public EventLoggerTest {
 protected:
  static std::string Record(int thread, int n) {
    return "THREAD='" + std::to_string(thread) + "',N='" + std::to_string(n) + "'";
  }
  void PostFromThreads(int threads, int per_thread) {
    StartLogger();
    std::vector<std::thread> posters;
    for (int t = 0; t < threads; ++t) {
      posters.emplace_back([this, t, per_thread] {
        for (int i = 0; i < per_thread; ++i) {
          logger_->Enqueue(Record(t, i));
        }
      });
    }
    for (std::thread& poster : posters) poster.join();
    std::vector<std::string> lines = FinishAndReadLines();
    std::vector<int> next(threads, 0);
    int torn = 0;
    for (const std::string& line : lines) {
      int thread = -1, n = -1;
      if (std::sscanf(line.c_str(), "THREAD='%d',N='%d'", &thread, &n) != 2 || thread < 0 ||
          thread >= threads || line != Record(thread, n)) {
        ++torn;
        continue;
      }
      ASSERT_EQ(n, next[thread]) << "thread " << thread << " out of order";
      ++next[thread];
    }
    EXPECT_EQ(torn, 0);
    for (int t = 0; t < threads; ++t) EXPECT_EQ(next[t], per_thread) << "thread " << t;
  }
};

#if defined(__SANITIZE_THREAD__) || defined(_WIN32)
// ThreadSanitizer and Wine (a server round for each write) are many times slower.
constexpr int kLoadPerThread = 25000;
#else
constexpr int kLoadPerThread = 250000;
#endif

TEST_F(EventLoggerLoadTest, FourThreadsLoseNoRecord) { PostFromThreads(4, kLoadPerThread); }

// Each take empties the queue while the posters go on: a wake then often
// finds its commands taken already, and none may be lost or reordered.
TEST_F(EventLoggerLoadTest, BatchesTakenWhilePostsArriveLoseNoRecord) { PostFromThreads(2, 5000); }

TEST(EventLoggerOptionsTest, ProductDefaults) {
  const EventLoggerOptions options;
  EXPECT_EQ(options.idle_wait_ms, 15000u);
  EXPECT_EQ(options.drain_limit_ms, 60000u);
  EXPECT_EQ(options.log_server_port, 80);
  EXPECT_EQ(options.report_timeout_ms, 5000u);
  EXPECT_EQ(options.registry, nullptr);
}

class AgentIdTest : public EventLoggerTest {};

TEST_F(AgentIdTest, ReadsTheGuidTextUpToItsTerminator) {
  registry_.SetString(platform::RegistryRoot::kCurrentUser, "SOFTWARE\\Torvane", "RuntimeGuid",
                      "0f8fad5b-d9cb-469f-a165-70867728950e");
  EXPECT_EQ(ReadAgentId(registry_), "0f8fad5b-d9cb-469f-a165-70867728950e");
  EXPECT_EQ(registry_.read_count(), 1);
}

TEST_F(AgentIdTest, RetriesUntilTheValueAppears) {
  registry_.SetString(platform::RegistryRoot::kCurrentUser, "SOFTWARE\\Torvane", "RuntimeGuid",
                      "abc");
  registry_.FailNextReads(2);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadAgentId(registry_), "abc");
  EXPECT_EQ(registry_.read_count(), 3);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(950));
}

TEST_F(AgentIdTest, SuccessfulLaunchRecordNamesTheAgent) {
  registry_.SetString(platform::RegistryRoot::kCurrentUser, "SOFTWARE\\Torvane", "RuntimeGuid",
                      "0f8fad5b-d9cb-469f-a165-70867728950e");
  StartLogger();
  logger_->Post(kAgentLaunched);
  logger_->Post(kAgentLaunchFailed);
  std::vector<std::string> lines = FinishAndReadLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].find("AGENT='0f8fad5b-d9cb-469f-a165-70867728950e',EVENTID='7003',DESC='"
                          "Successfully launched Torvane Agent.',TIMESTAMP='"),
            0u)
      << lines[0];
  EXPECT_EQ(lines[1].find("EVENTID='7002',"), 0u) << lines[1];
}

// Six tries 500 ms apart, then "?" (this test takes three seconds).
TEST_F(AgentIdTest, MissingValueGivesAQuestionMark) {
  StartLogger();
  auto start = std::chrono::steady_clock::now();
  logger_->Post(kAgentLaunched);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2900));
  EXPECT_EQ(registry_.read_count(), 6);
  std::vector<std::string> lines = FinishAndReadLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].find("AGENT='?',EVENTID='7003',"), 0u) << lines[0];
}

}  // namespace

}  // namespace diagnostics
