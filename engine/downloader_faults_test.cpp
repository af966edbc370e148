// The download against a network that misbehaves: one row per fault, walked
// for a step that verifies its digest (the .NET installers) and for one that
// does not (the agent package). Each row checks the result and its text, the
// time the attempt took, what is left where the installer would run it, and a
// second attempt on a good server that recovers.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/download_plan.h"
#include "diagnostics/event_catalog.h"
#include "diagnostics/event_record.h"
#include "engine/downloader.h"
#include "engine/file_digest.h"
#include "engine/install_manager.h"
#include "platform/files.h"
#include "tests/event_log_reader.h"
#include "tests/fake_message_boxes.h"
#include "tests/recorded_events.h"
#include "tests/run_context.h"
#include "tests/servers/loopback_http_server.h"
#include "tests/servers/watched_server.h"
#include "tests/test_paths.h"

namespace engine {

namespace {

using testing_servers::GeneratedBody;
using testing_servers::LoopbackHttpServer;
using testing_servers::LoopbackUrl;
using testing_servers::RecordedRequest;
using testing_servers::ResponsePlan;
using testing_servers::ServerWatchdog;
using Clock = std::chrono::steady_clock;

// Short waits, so every row is quick; the product waits a minute (see the bounds below).
constexpr uint32_t kStallLimitMs = 500;
constexpr size_t kSize = 3000;
const char kPortal[] = "<html><body>Please log in to use this network.</body></html>";
const char kErrorPage[] = "<html>\r\n<body>\r\nNo such file.\r\n\r\n</body>\r\n</html>\r\n";

// The installer as the good server has it; a package begins as an MSI does.
std::string Good() { return components::MsiSignature() + GeneratedBody(0, kSize - 8); }

// Where the row's hostile server is, and how it answers.
struct Hostile {
  LoopbackHttpServer& server;
  const std::string& good_url;  // the good server's address of the same file
};

struct Row {
  const char* fault;
  // The address to fetch; the server is listening and may be given a responder.
  std::function<std::string(Hostile&)> arrange;
  int digest_result;    // the step that verifies its digest
  int plain_result;     // the step that does not
  const char* text;     // part of the 9058 description; null: not checked
  uint32_t bound_ms;    // the attempt ends within this
  size_t requests = 0;  // the hostile server sees exactly so many; 0: not checked
};

std::string Serve(Hostile& h, const ResponsePlan& plan) {
  h.server.SetDefaultResponse(plan);
  return LoopbackUrl(h.server.port(), "/setup.exe");
}

std::vector<Row> Rows() {
  const std::string good = Good();
  return {
      {"refused",
       [](Hostile& h) {
         const int port = h.server.port();
         h.server.Stop();  // nobody listens there now
         return LoopbackUrl(port, "/setup.exe");
       },
       diagnostics::kHttpError, diagnostics::kHttpError, nullptr, 3000},
      {"unresolvable name",
       [](Hostile&) { return std::string("http://kestrel-download.invalid/setup.exe"); },
       diagnostics::kHttpError, diagnostics::kHttpError, nullptr, kStallLimitMs + 2000},
      {"accepts, never answers", [](Hostile& h) { return Serve(h, ResponsePlan::Silent()); },
       diagnostics::kHttpError, diagnostics::kHttpError,
       "The server stopped sending before its answer began.", kStallLimitMs + 1500},
      {"stalls mid-body", [](Hostile& h) { return Serve(h, ResponsePlan::Stalling(1000, kSize)); },
       diagnostics::kHttpError, diagnostics::kHttpError,
       "The server stopped sending: 1000 of 3000 bytes arrived.", kStallLimitMs + 1500},
      // A byte every 50 ms never leaves the download waiting a whole stall limit.
      {"trickles a byte at a time",
       [](Hostile& h) { return Serve(h, ResponsePlan::Trickle(kSize, 50)); },
       diagnostics::kHttpError, diagnostics::kHttpError,
       "The server stopped sending: ", 2 * kStallLimitMs + 1500},
      {"reset mid-body",
       [good](Hostile& h) {
         return Serve(h, ResponsePlan::ResetMidBody(good.substr(0, 1000), kSize));
       },
       // The reset may overtake the bytes before it, the head included: the
       // text is then the broken connection's.
       diagnostics::kHttpError, diagnostics::kHttpError, nullptr, 2000},
      {"body shorter than its length",
       [good](Hostile& h) {
         return Serve(h, ResponsePlan::ShortBody(good.substr(0, 1000), kSize));
       },
       diagnostics::kHttpError, diagnostics::kHttpError,
       "The download ended early: 1000 of 3000 bytes arrived.", 2000},
      {"body longer than its length",
       [good](Hostile& h) {
         return Serve(h, ResponsePlan::LongBody(good + "trailing junk", kSize));
       },
       1, 1, nullptr, 2000},
      {"no length", [good](Hostile& h) { return Serve(h, ResponsePlan::WithoutLength(good)); },
       diagnostics::kHttpError, diagnostics::kHttpError,
       "Failed to retrieve file size, possibly due to an invalid URL.", 2000},
      {"captive portal page",
       [](Hostile& h) { return Serve(h, ResponsePlan::Status(200, kPortal)); },
       diagnostics::kMd5CheckFailed, diagnostics::kHttpError,
       "The server sent something other than the installer.", 2000},
      {"404 with CR LF in its body",
       [](Hostile& h) { return Serve(h, ResponsePlan::Status(404, kErrorPage)); },
       diagnostics::kHttpError, diagnostics::kHttpError,
       "The server has not found anything matching the requested URI", 2000},
      {"500 with CR LF in its body",
       [](Hostile& h) { return Serve(h, ResponsePlan::Status(500, kErrorPage)); },
       diagnostics::kHttpError, diagnostics::kHttpError,
       "The server encountered an unexpected condition", 2000},
      {"redirect loop",
       [](Hostile& h) {
         const std::string self = LoopbackUrl(h.server.port(), "/setup.exe");
         h.server.SetDefaultResponse(ResponsePlan::Redirect(302, self));
         return self;
       },
       diagnostics::kHttpError, diagnostics::kHttpError, "Unknown error has occured", 2000},
      {"redirect to another host",
       [](Hostile& h) {
         // The good server under another name: another host to the client.
         std::string other = h.good_url;
         other.replace(other.find("127.0.0.1"), 9, "localhost");
         return Serve(h, ResponsePlan::Redirect(302, other));
       },
       1, 1, nullptr, 2000},
      // Every redirect a little within the stall limit, the whole chain beyond it.
      {"redirects slowly, again and again",
       [](Hostile& h) {
         const std::string self = LoopbackUrl(h.server.port(), "/setup.exe");
         ResponsePlan plan = ResponsePlan::Redirect(302, self);
         plan.delay_before_answer_ms = kStallLimitMs * 3 / 5;
         return Serve(h, plan);
       },
       diagnostics::kHttpError, diagnostics::kHttpError,
       "The server stopped sending before its answer began.", kStallLimitMs + 1500},
      {"head a line at a time",
       [](Hostile& h) { return Serve(h, ResponsePlan::TrickleHead(40, kStallLimitMs / 5)); },
       diagnostics::kHttpError, diagnostics::kHttpError,
       "The server stopped sending before its answer began.", kStallLimitMs + 1500},
      {"redirect without Location", [](Hostile& h) { return Serve(h, ResponsePlan::Status(302)); },
       diagnostics::kHttpError, diagnostics::kHttpError,
       "resides temporarily under a different URI", 2000},
      {"64 KiB response header",
       [good](Hostile& h) { return Serve(h, ResponsePlan::LargeHead(good, 64 * 1024)); }, 1, 1,
       nullptr, 2000},
  };
}

// Locations that are never followed: a CR, another control byte, a blank or
// DEL would go on into the next request line; no scheme but http and https.
void AddRefusedRedirects(std::vector<Row>* rows) {
  const std::pair<const char*, const char*> kRefused[] = {
      {"redirect splitting its request with a CR", "/setup.exe\rX-Injected: 1"},
      {"redirect with a control byte", "/setup.exe\x01"},
      {"redirect with a blank", "/set up.exe"},
      {"redirect with DEL", "/setup\x7f.exe"},
      {"redirect to ftp", "ftp://127.0.0.1/setup.exe"},
      {"redirect to a local file", "file:///setup.exe"},
  };
  for (const auto& refused : kRefused) {
    const std::string location = refused.second;
    rows->push_back(
        {refused.first,
         [location](Hostile& h) { return Serve(h, ResponsePlan::Redirect(302, location)); },
         diagnostics::kHttpError, diagnostics::kHttpError, "redirected the download to an address",
         2000, 1});
  }
}

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Every line after the banner is one whole record: no CR LF from a server
// breaks one in two. Gives the first record's description.
std::string ExpectWholeRecords(const std::string& log) {
  std::string first;
  for (size_t at = testing_logs::ExpectedBanner().size(), end; at < log.size(); at = end + 1) {
    end = std::min(log.find('\n', at), log.size());
    std::string line = log.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();  // text mode on Windows
    const auto record = diagnostics::ParseEventRecord(line);
    EXPECT_TRUE(record && line.find('\r') == std::string::npos) << line;
    if (record && first.empty()) first = record->description;
  }
  return first;
}

class DownloaderFaultsTest : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    ASSERT_EQ(LoopbackHttpServer::StartResult::kOk, good_.Start(0));
    good_.SetDefaultResponse(ResponsePlan::Status(200, Good()));
    ASSERT_TRUE(test_paths::WriteWholeFile(folder_.File("good"), Good()));
    md5_ = FileMd5(folder_.File("good"));
  }

  bool verifies() const { return GetParam(); }
  std::string Target() const { return folder_.File("setup.exe"); }

  // A step of the form the installer downloads: the .NET one verifies its digest.
  InstallStep& AddStep(InstallManager& manager, const std::string& url) {
    StepPlan plan = DownloadedInstaller(nullptr, url, folder_.path(), "setup.exe",
                                        verifies() ? md5_ : std::string());
    plan.verify_digest = verifies();
    // The agent package is always fetched afresh; a file at hand is no copy of it.
    if (!verifies()) {
      plan.availableLocally = false;
      plan.leading_bytes = components::MsiSignature();
    }
    plan.download_timing.stall_limit_ms = kStallLimitMs;
    return Queued(manager, plan);
  }

  test_paths::ScratchFolder folder_;
  LoopbackHttpServer good_;
  std::string md5_;
  FakeMessageBoxes boxes_;
};

TEST_P(DownloaderFaultsTest, EachFaultFailsInTimeLeavesNoWrongFileAndASecondRunRecovers) {
  const std::string good = Good();
  const std::string good_url = LoopbackUrl(good_.port(), "/setup.exe");
  std::vector<Row> rows = Rows();
  AddRefusedRedirects(&rows);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    platform::RemoveFile(Target());
    const int expected = verifies() ? row.digest_result : row.plain_result;
    {
      LoopbackHttpServer server;
      ASSERT_EQ(LoopbackHttpServer::StartResult::kOk, server.Start(0));
      ServerWatchdog watchdog(server, 20000);
      Hostile hostile{server, good_url};
      const std::string url = row.arrange(hostile);
      RecordedEvents events;
      PipelineSignals signals;
      TestRunContext run(&events, signals, boxes_);
      InstallManager manager(run.context());
      InstallStep& step = AddStep(manager, url);
      const Clock::time_point start = Clock::now();
      const int result = step.Download();
      const long long took = MillisecondsSince(start);
      EXPECT_EQ(expected, result);
      std::string seen;  // the failure's description, for the record
      EXPECT_LT(took, row.bound_ms) << "the attempt took " << took << " ms";
      EXPECT_FALSE(watchdog.Dismiss()) << "the download waited until the server stopped";
      if (row.requests) {
        EXPECT_EQ(row.requests, server.RequestCount()) << "never sent on";
      }
      EXPECT_EQ(result == 1, step.progress().downloadDone.Wait(0));
      if (result == 1) {
        std::string bytes;
        EXPECT_TRUE(test_paths::ReadWholeFile(Target(), &bytes));
        EXPECT_TRUE(bytes == good) << bytes.size() << " bytes kept";
        EXPECT_TRUE(events.Ids().empty());
      } else {
        EXPECT_FALSE(platform::PathExists(Target())) << "a failed download left its file";
        const std::string log = events.LogText();
        EXPECT_EQ((std::vector<int>{result}), events.Ids());
        if (row.text && result == diagnostics::kHttpError) {
          EXPECT_NE(std::string::npos, log.find(row.text)) << log;
        }
        seen = ExpectWholeRecords(log);
      }
      std::printf("[ row      ] %-28s %-9s result %d in %lld ms, %d requests: %s\n", row.fault,
                  verifies() ? "digest" : "no digest", result, took,
                  static_cast<int>(server.RequestCount()), seen.c_str());
    }

    // The second run, on a good server: a file at hand is used only when its
    // digest matches, anything else is fetched again.
    RecordedEvents events;
    PipelineSignals signals;
    TestRunContext run(&events, signals, boxes_);
    InstallManager manager(run.context());
    InstallStep& again = AddStep(manager, good_url);
    EXPECT_EQ(verifies() && expected == 1, again.plan().availableLocally);
    const size_t before_second = good_.RequestCount();
    EXPECT_EQ(1, again.Download());
    std::string bytes;
    EXPECT_TRUE(test_paths::ReadWholeFile(Target(), &bytes));
    EXPECT_TRUE(bytes == good);
    EXPECT_EQ(again.plan().availableLocally, good_.RequestCount() == before_second)
        << "a copy at hand is used without a request, anything else is fetched";
    EXPECT_EQ(again.plan().availableLocally ? std::vector<int>{diagnostics::kLocalInstallerFound}
                                            : std::vector<int>{},
              events.Ids());
  }
}

INSTANTIATE_TEST_SUITE_P(Steps, DownloaderFaultsTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "WithDigest" : "WithoutDigest";
                         });

}  // namespace

}  // namespace engine
