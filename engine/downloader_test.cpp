#include "engine/downloader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/event_catalog.h"
#include "engine/install_manager.h"
#include "platform/digest.h"
#include "platform/files.h"
#include "tests/fake_message_boxes.h"
#include "tests/recorded_events.h"
#include "tests/recording_progress_view.h"
#include "tests/run_context.h"
#include "tests/servers/loopback_http_server.h"
#include "tests/servers/watched_server.h"
#include "tests/test_paths.h"
#include "ui/progress_flow.h"

#ifndef _WIN32
#include <unistd.h>

#include "platform/posix/native_path.h"
#endif

namespace engine {

namespace {

using testing_servers::GeneratedBody;
using testing_servers::LoopbackHttpServer;
using testing_servers::LoopbackUrl;
using testing_servers::RecordedRequest;
using testing_servers::ResponsePlan;
using testing_servers::WatchedServer;

// RFC 1321's digest of "abc".
const char kAbcMd5[] = "900150983cd24fb0d6963f7d28e17f72";

void VerifyingDigest(StepPlan& plan) { plan.verify_digest = true; }

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class DownloaderTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(LoopbackHttpServer::StartResult::kOk, server_.Start(0)); }

  std::string Url(const std::string& path) const { return LoopbackUrl(server_.port(), path); }

  // A step of the download form, queued in this test's own manager, its plan
  // changed first by `change`.
  InstallStep& AddStep(const std::string& url, const std::string& md5 = std::string(),
                       const std::string& directory = std::string(),
                       const std::function<void(StepPlan&)>& change = nullptr) {
    StepPlan plan = DownloadedInstaller(
        nullptr, url, directory.empty() ? folder_.path() : directory, "setup.exe", md5);
    if (change) change(plan);
    return Queued(manager_, plan);
  }

  std::string Target() const { return folder_.File("setup.exe"); }

  std::string FileBytes() const {
    std::string bytes;
    EXPECT_TRUE(test_paths::ReadWholeFile(Target(), &bytes));
    return bytes;
  }

  test_paths::ScratchFolder folder_;
  LoopbackHttpServer server_;
  RecordedEvents events_;
  PipelineSignals signals_;
  FakeMessageBoxes boxes_;
  TestRunContext run_{&events_, signals_, boxes_};
  InstallManager manager_{run_.context()};
  RecordingProgressView view_;
};

TEST_F(DownloaderTest, StoresTheExactBodyAndReleasesDownloadDone) {
  const std::string body = GeneratedBody(0, 300000);
  server_.SetDefaultResponse(ResponsePlan::Status(200, body));
  InstallStep& step = AddStep(Url("/dotnetfx.exe"));
  EXPECT_EQ(1, step.Download());
  EXPECT_EQ(body, FileBytes());
  EXPECT_TRUE(step.progress().downloadDone.Wait(0));
  EXPECT_EQ(1, step.progress().phase.load());
  EXPECT_EQ(300000.0, step.progress().bytesTotal.load());
  EXPECT_EQ(300000.0, step.progress().bytesReceived.load());
  ASSERT_EQ(1u, server_.RequestCount());
  EXPECT_EQ("/dotnetfx.exe", server_.Requests()[0].target);
  EXPECT_EQ("Brindle Bootstrapper", server_.Requests()[0].Header("User-Agent"));
  EXPECT_TRUE(boxes_.shown().empty());
  EXPECT_TRUE(events_.Ids().empty());
}

TEST_F(DownloaderTest, ProgressRisesToTheWholeDownload) {
  ResponsePlan plan = ResponsePlan::Generated(1 << 20);
  plan.chunk_size = 64 * 1024;
  plan.chunk_delay_ms = 5;
  server_.SetDefaultResponse(plan);
  signals_.progressWindow = &view_;
  InstallStep& step = AddStep(Url("/agent.msi"));
  ASSERT_EQ(1, step.Download());
  EXPECT_EQ(1.0, step.progress().downloadFraction.load());
  EXPECT_EQ(step.progress().bytesTotal.load(), step.progress().bytesReceived.load());
  // One step weighs 1 + 1: the whole download is half the bar.
  const std::vector<int> percents = view_.percents();
  ASSERT_GE(percents.size(), 3u);
  for (size_t i = 1; i < percents.size(); ++i) EXPECT_LT(percents[i - 1], percents[i]);
  EXPECT_EQ(50, percents.back());
  EXPECT_EQ("50% Complete", ui::PercentText(percents.back()));
}

TEST_F(DownloaderTest, FollowsARedirect) {
  server_.SetResponder([this](const RecordedRequest& request) {
    if (request.target == "/old") return ResponsePlan::Redirect(302, Url("/new"));
    return ResponsePlan::Status(200, "the installer");
  });
  InstallStep& step = AddStep(Url("/old"));
  EXPECT_EQ(1, step.Download());
  EXPECT_EQ("the installer", FileBytes());
  ASSERT_EQ(2u, server_.RequestCount());
  EXPECT_EQ("/new", server_.Requests()[1].target);
}

constexpr size_t kHalf = 150000;  // where the first answer of a resumed download breaks

// A body that breaks off is asked for again from where it broke, when the
// first answer named its version and enough had come.
TEST_F(DownloaderTest, ABrokenBodyIsResumedWhereItBroke) {
  const std::string body = GeneratedBody(0, 300000);
  const std::string changed = GeneratedBody(9, 300000);
  using Serve = std::function<ResponsePlan(const RecordedRequest&)>;
  // The first answer: half the body, then the connection closes.
  auto broken = [&](const char* validator, const char* value, size_t sent = kHalf) {
    ResponsePlan plan = ResponsePlan::ShortBody(body.substr(0, sent), body.size());
    if (*validator) plan.headers.emplace_back(validator, value);
    return plan;
  };
  auto rest = [&](const std::string& range, size_t from = kHalf) {
    ResponsePlan plan = ResponsePlan::Status(206, body.substr(from));
    plan.headers.emplace_back("Content-Range", range);
    return plan;
  };
  auto named = [](ResponsePlan plan, const char* etag = "\"v1\"") {
    plan.headers.emplace_back("ETag", etag);
    return plan;
  };
  ResponsePlan reset = named(ResponsePlan::ResetMidBody(body.substr(0, kHalf), body.size()));
  reset.pause_before_reset_ms = 200;  // the reset comes after all of the half has been read
  const std::string good_range = "bytes 150000-299999/300000";
  const struct {
    const char* name;
    Serve serve;
    int result;
    const char* file;  // "body", "changed" or "" (none)
    size_t requests;
    const char* if_range;  // what the second request's If-Range says
    int resumes;
  } rows[] = {
      {"206 from where it broke",
       [&](const RecordedRequest& r) {
         return r.index == 0 ? broken("ETag", "\"v1\"") : rest(good_range);
       },
       1, "body", 2, "\"v1\"", 1},
      {"Last-Modified when there is no ETag",
       [&](const RecordedRequest& r) {
         return r.index == 0 ? broken("Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT")
                             : rest(good_range);
       },
       1, "body", 2, "Tue, 01 Dec 2026 10:00:00 GMT", 1},
      {"the file changed: a 200 starts over",
       [&](const RecordedRequest& r) {
         return r.index == 0 ? broken("ETag", "\"v1\"") : ResponsePlan::Status(200, changed);
       },
       1, "changed", 2, "\"v1\"", 0},
      {"206 of another part",
       [&](const RecordedRequest& r) {
         return r.index == 0 ? broken("ETag", "\"v1\"")
                             : rest("bytes 149999-299999/300000", kHalf - 1);
       },
       diagnostics::kHttpError, "", 2, "\"v1\"", 0},
      {"206 with a changed ETag",
       [&](const RecordedRequest& r) {
         return r.index == 0 ? broken("ETag", "\"v1\"") : named(rest(good_range), "\"v2\"");
       },
       diagnostics::kHttpError, "", 2, "\"v1\"", 0},
      {"reset at half, the rest in a 206",
       [&](const RecordedRequest& r) { return r.index == 0 ? reset : rest(good_range); }, 1, "body",
       2, "\"v1\"", 1},
      {"reset at half, the range answered with the whole file",
       [&](const RecordedRequest& r) {
         return r.index == 0 ? reset : ResponsePlan::Status(200, body);
       },
       1, "body", 2, "\"v1\"", 0},
      {"stalls at half, the rest in a 206",
       [&](const RecordedRequest& r) {
         return r.index == 0 ? named(ResponsePlan::Stalling(kHalf, body.size())) : rest(good_range);
       },
       1, "body", 2, "\"v1\"", 1},
      // An If-Range may carry neither: a weak ETag, nor a header line of the server's.
      {"weak ETag: never resumed",
       [&](const RecordedRequest&) { return broken("ETag", "W/\"v1\""); }, diagnostics::kHttpError,
       "", 1, nullptr, 0},
      {"ETag with a control byte: never resumed",
       [&](const RecordedRequest&) { return broken("ETag", "\"v1\x01\""); },
       diagnostics::kHttpError, "", 1, nullptr, 0},
      {"no validator: never resumed", [&](const RecordedRequest&) { return broken("", ""); },
       diagnostics::kHttpError, "", 1, nullptr, 0},
      {"less than 64 KiB: never resumed",
       [&](const RecordedRequest&) { return broken("ETag", "\"v1\"", 60000); },
       diagnostics::kHttpError, "", 1, nullptr, 0},
      {"breaks every time: three resumes, then the attempt fails",
       [&](const RecordedRequest& r) {
         if (r.index == 0) return broken("ETag", "\"v1\"");
         ResponsePlan plan = ResponsePlan::ShortBody(body.substr(kHalf, 1000), kHalf);
         plan.status = 206;
         const size_t from = kHalf + 1000 * (r.index - 1);
         plan.headers.emplace_back("Content-Range",
                                   "bytes " + std::to_string(from) + "-299999/300000");
         plan.declared_length = body.size() - from;
         return plan;
       },
       diagnostics::kHttpError, "", 4, "\"v1\"", 3},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    LoopbackHttpServer server;
    ASSERT_EQ(LoopbackHttpServer::StartResult::kOk, server.Start(0));
    server.SetResponder(row.serve);
    RecordedEvents events;
    TestRunContext run{&events, signals_, boxes_};
    InstallManager manager{run.context()};
    const std::string expected = std::string(row.file) == "changed" ? changed : body;
    // The digest covers the whole file, however many requests brought it.
    StepPlan plan = DownloadedInstaller(
        nullptr, LoopbackUrl(server.port(), "/x"), folder_.path(), "setup.exe",
        platform::DigestHex(platform::DigestAlgorithm::kMd5, expected.data(), expected.size()));
    plan.verify_digest = true;
    plan.download_timing.stall_limit_ms = 500;  // the stalling row's wait
    InstallStep& step = Queued(manager, plan);
    EXPECT_EQ(row.result, step.Download());
    if (*row.file) {
      EXPECT_EQ(expected, FileBytes());
    } else {
      EXPECT_FALSE(platform::PathExists(Target()));
    }
    const std::vector<RecordedRequest> requests = server.Requests();
    ASSERT_EQ(row.requests, requests.size());
    if (row.if_range) {
      EXPECT_EQ("bytes=150000-", requests[1].Header("Range"));
      EXPECT_EQ(row.if_range, requests[1].Header("If-Range"));
    }
    EXPECT_FALSE(requests[0].HasHeader("Range"));
    const std::vector<int> ids = events.Ids();
    EXPECT_EQ(row.resumes, std::count(ids.begin(), ids.end(), diagnostics::kDownloadResumed));
    if (row.result == 1) {
      EXPECT_EQ(1.0, step.progress().downloadFraction.load());
    }
    platform::RemoveFile(Target());
  }
}

TEST_F(DownloaderTest, BlankAddressFailsWithoutTouchingAFile) {
  InstallStep& step = AddStep("");
  EXPECT_EQ(diagnostics::kHttpError, step.Download());
  EXPECT_FALSE(platform::PathExists(Target()));
  EXPECT_FALSE(step.progress().downloadDone.Wait(0));
  EXPECT_TRUE(Contains(events_.LogText(), "EVENTID='9058',DESC='HTTP ERROR: URL is blank.'"));
}

TEST_F(DownloaderTest, ErrorStatusesFailWithTheirTextAndNoFile) {
  struct Case {
    int status;
    const char* text;
  };
  const Case cases[] = {
      {404, "HTTP ERROR: The server has not found anything matching the requested URI"},
      {500, "HTTP ERROR: The server encountered an unexpected condition"},
  };
  for (const Case& c : cases) {
    server_.SetDefaultResponse(ResponsePlan::Status(c.status, "<html>error page</html>"));
    InstallStep& step = AddStep(Url("/missing"));
    EXPECT_EQ(diagnostics::kHttpError, step.Download()) << c.status;
    EXPECT_FALSE(platform::PathExists(Target())) << c.status;
    EXPECT_FALSE(step.progress().downloadDone.Wait(0));
  }
  const std::string log = events_.LogText();
  for (const Case& c : cases) EXPECT_TRUE(Contains(log, c.text)) << log;
  EXPECT_EQ(2u, events_.Ids().size());
}

TEST_F(DownloaderTest, RefusedConnectionFails) {
  LoopbackHttpServer closed;
  ASSERT_EQ(LoopbackHttpServer::StartResult::kOk, closed.Start(0));
  const int port = closed.port();
  closed.Stop();
  InstallStep& step = AddStep(LoopbackUrl(port, "/dotnetfx.exe"));
  EXPECT_EQ(diagnostics::kHttpError, step.Download());
  EXPECT_FALSE(platform::PathExists(Target()));
  EXPECT_EQ((std::vector<int>{diagnostics::kHttpError}), events_.Ids());
}

TEST_F(DownloaderTest, AnswerWithoutLengthFails) {
  server_.SetDefaultResponse(ResponsePlan::WithoutLength("some bytes"));
  InstallStep& step = AddStep(Url("/x"));
  EXPECT_EQ(diagnostics::kHttpError, step.Download());
  EXPECT_FALSE(step.progress().downloadDone.Wait(0));
  EXPECT_TRUE(Contains(events_.LogText(),
                       "DESC='HTTP ERROR: Failed to retrieve file size, "
                       "possibly due to an invalid URL.'"));
}

TEST_F(DownloaderTest, BodyEndingBeforeItsLengthIsAFailureAndTheShortFileGoes) {
  server_.SetDefaultResponse(ResponsePlan::ShortBody(std::string(1000, 'x'), 5000));
  InstallStep& step = AddStep(Url("/agent.msi"));
  EXPECT_EQ(diagnostics::kHttpError, step.Download());
  EXPECT_FALSE(platform::PathExists(Target()));
  EXPECT_FALSE(step.progress().downloadDone.Wait(0));
  EXPECT_TRUE(Contains(events_.LogText(), "1000 of 5000 bytes"));
}

// Bounded, so that a download that never starts fails the test instead of
// hanging the suite; the caller still ends and joins the download.
bool FirstBytesArrive(InstallStep& step) {
  for (int waited = 0; waited < 10000 && step.progress().bytesReceived.load() == 0; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return step.progress().bytesReceived.load() > 0;
}

TEST_F(DownloaderTest, AbortDuringTheTransferKeepsThePartialFile) {
  ResponsePlan plan = ResponsePlan::Generated(1 << 20);
  plan.chunk_size = 16 * 1024;
  plan.chunk_delay_ms = 50;  // about three seconds for the whole body
  server_.SetDefaultResponse(plan);
  InstallStep& step = AddStep(Url("/dotnetfx.exe"));
  int result = 0;
  std::thread download([&] { result = step.Download(); });
  EXPECT_TRUE(FirstBytesArrive(step));
  AbortInstallation(signals_);
  download.join();
  EXPECT_EQ(diagnostics::kDownloadTerminated, result);
  EXPECT_FALSE(step.progress().downloadDone.Wait(0));
  const int64_t size = platform::FileSize(Target());
  EXPECT_GT(size, 0);
  EXPECT_LT(size, 1 << 20);
  EXPECT_EQ(static_cast<double>(size), step.progress().bytesReceived.load());
  EXPECT_EQ((std::vector<int>{diagnostics::kDownloadTerminated}), events_.Ids());
}

// The product waits a minute for a silent server; these tests shorten it.
TEST_F(DownloaderTest, AStalledServerFailsTheAttemptWithItsText) {
  EXPECT_EQ(DownloadTiming().stall_limit_ms, 60000u);
  struct Case {
    ResponsePlan plan;
    const char* text;
  };
  const Case cases[] = {
      {ResponsePlan::Silent(), "The server stopped sending before its answer began."},
      {ResponsePlan::Stalling(1000, 5000),
       "The server stopped sending: 1000 of 5000 bytes arrived."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    WatchedServer server(c.plan);
    ASSERT_EQ(LoopbackHttpServer::StartResult::kOk, server.started());
    RecordedEvents events;
    PipelineSignals signals;
    TestRunContext run(&events, signals, boxes_);
    InstallManager manager(run.context());
    StepPlan plan = DownloadedInstaller(nullptr, server.Url("/x"), folder_.path(), "setup.exe");
    plan.download_timing.stall_limit_ms = 300;
    InstallStep& step = Queued(manager, plan);
    EXPECT_EQ(diagnostics::kHttpError, step.Download());
    EXPECT_FALSE(server.Dismiss()) << "the download waited until the server stopped";
    EXPECT_FALSE(step.progress().downloadDone.Wait(0));
    EXPECT_FALSE(platform::PathExists(Target())) << "a stalled body is no installer";
    EXPECT_TRUE(Contains(events.LogText(), std::string("DESC='HTTP ERROR: ") + c.text + "'"))
        << events.LogText();
    EXPECT_EQ((std::vector<int>{diagnostics::kHttpError}), events.Ids());
  }
}

// A confirmed cancel ends a download that waits for a silent server at once
// (the product would otherwise wait out the stall limit).
TEST_F(DownloaderTest, ACancelEndsAWaitForTheServer) {
  struct Case {
    const char* name;
    ResponsePlan plan;
    int64_t kept;  // bytes of the partial file; -1: none
  };
  const Case cases[] = {
      {"no answer", ResponsePlan::Silent(), -1},
      {"body stops", ResponsePlan::Stalling(1000, 5000), 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WatchedServer server(c.plan);
    ASSERT_EQ(LoopbackHttpServer::StartResult::kOk, server.started());
    RecordedEvents events;
    PipelineSignals signals;
    TestRunContext run(&events, signals, boxes_);
    InstallManager manager(run.context());
    manager.AddStep(std::make_unique<InstallStep>(
        DownloadedInstaller(nullptr, server.Url("/x"), folder_.path(), "setup.exe")));
    InstallStep& step = *manager.steps().back();
    int result = 0;
    std::thread download([&] { result = step.Download(); });
    ASSERT_TRUE(server.server().WaitForRequests(1, 5000));
    if (c.kept > 0) {
      EXPECT_TRUE(FirstBytesArrive(step));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // waiting for more by now
    const auto cancelled = std::chrono::steady_clock::now();
    AbortInstallation(signals);
    download.join();
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::seconds(2));
    EXPECT_FALSE(server.Dismiss()) << "the download waited until the server stopped";
    EXPECT_EQ(diagnostics::kDownloadTerminated, result);
    EXPECT_EQ(c.kept, platform::FileSize(Target())) << "the partial file stays";
    EXPECT_EQ((std::vector<int>{diagnostics::kDownloadTerminated}), events.Ids());
    platform::RemoveFile(Target());
  }
}

TEST_F(DownloaderTest, AbortBeforeTheStartSendsNoRequest) {
  AbortInstallation(signals_);
  InstallStep& step = AddStep(Url("/dotnetfx.exe"));
  EXPECT_EQ(diagnostics::kDownloadTerminated, step.Download());
  EXPECT_EQ(1, step.progress().phase.load());
  EXPECT_EQ(0u, server_.RequestCount());
  EXPECT_FALSE(platform::PathExists(Target()));
  EXPECT_EQ((std::vector<int>{diagnostics::kDownloadTerminated}), events_.Ids());
}

TEST_F(DownloaderTest, LocalCopyIsUsedWithoutAnyRequest) {
  ASSERT_TRUE(test_paths::WriteWholeFile(Target(), "abc"));
  InstallStep& step = AddStep(Url("/dotnetfx.exe"), kAbcMd5);
  ASSERT_TRUE(step.plan().availableLocally);
  EXPECT_EQ(1, step.Download());
  EXPECT_TRUE(step.progress().downloadDone.Wait(0));
  EXPECT_EQ(0u, server_.RequestCount());
  EXPECT_EQ((std::vector<int>{diagnostics::kLocalInstallerFound}), events_.Ids());
}

TEST_F(DownloaderTest, StaleFileIsNoLocalCopyWhenADigestIsConfigured) {
  ASSERT_TRUE(test_paths::WriteWholeFile(Target(), "ab"));  // an earlier, broken transfer
  server_.SetDefaultResponse(ResponsePlan::Status(200, "abc"));
  InstallStep& step = AddStep(Url("/dotnetfx.exe"), kAbcMd5, "", VerifyingDigest);
  EXPECT_FALSE(step.plan().availableLocally);
  EXPECT_EQ(1, step.Download());
  EXPECT_EQ("abc", FileBytes());
  EXPECT_EQ(1u, server_.RequestCount());
}

TEST_F(DownloaderTest, AStepThatVerifiesItsDigestKeepsOnlyAMatchingFile) {
  server_.SetDefaultResponse(ResponsePlan::Status(200, "abc"));
  InstallStep& wrong =
      AddStep(Url("/dotnetfx.exe"), "0123456789abcdef0123456789abcdef", "", VerifyingDigest);
  EXPECT_EQ(diagnostics::kMd5CheckFailed, wrong.Download());
  EXPECT_FALSE(platform::PathExists(Target()));
  EXPECT_FALSE(wrong.progress().downloadDone.Wait(0));

  InstallStep& right = AddStep(Url("/dotnetfx.exe"), kAbcMd5, "", VerifyingDigest);
  EXPECT_EQ(1, right.Download());
  EXPECT_EQ("abc", FileBytes());
  EXPECT_TRUE(right.progress().downloadDone.Wait(0));
  EXPECT_EQ((std::vector<int>{diagnostics::kMd5CheckFailed}), events_.Ids());
}

// A SHA-256 binds every step, the agent's too, and a local copy as well; a
// signer is checked on a file that passed its digests.
TEST_F(DownloaderTest, AConfiguredSha256OrSignerKeepsOnlyAMatchingFile) {
#ifdef _WIN32
  const int unsigned_file = diagnostics::kSignatureMissing;
#else
  const int unsigned_file = diagnostics::kSignatureUnavailable;  // the stand-in cannot tell
#endif
  const std::string abc_sha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  server_.SetDefaultResponse(ResponsePlan::Status(200, "abc"));
  const struct {
    const char* name;
    std::string md5;
    std::string sha256;
    int result;
    const char* signer = "";
  } rows[] = {
      {"SHA-256 alone matches", "", abc_sha256, 1},
      {"both match", kAbcMd5, abc_sha256, 1},
      {"SHA-256 differs", "", std::string(64, '0'), diagnostics::kSha256CheckFailed},
      {"MD5 matches, SHA-256 differs", kAbcMd5, std::string(64, '0'),
       diagnostics::kSha256CheckFailed},
      {"a signer, and an unsigned file", "", abc_sha256, unsigned_file, "Kestrel Test Publisher"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    InstallStep& step = AddStep(Url("/agent.msi"), row.md5, "", [&](StepPlan& plan) {
      plan.sha256 = row.sha256;
      plan.signer = row.signer;
      plan.verify_digest = !row.md5.empty();
    });
    EXPECT_EQ(row.result, step.Download());
    EXPECT_EQ(row.result == 1, platform::PathExists(Target()));
    platform::RemoveFile(Target());
  }
  EXPECT_EQ((std::vector<int>{diagnostics::kSha256CheckFailed, diagnostics::kSha256CheckFailed,
                              unsigned_file}),
            events_.Ids());
  // A file at hand is no local copy unless it has the configured SHA-256.
  ASSERT_TRUE(test_paths::WriteWholeFile(Target(), "abd"));
  EXPECT_FALSE(DownloadedInstaller(nullptr, "", folder_.path(), "setup.exe", "", abc_sha256)
                   .availableLocally);
  ASSERT_TRUE(test_paths::WriteWholeFile(Target(), "abc"));
  EXPECT_TRUE(DownloadedInstaller(nullptr, "", folder_.path(), "setup.exe", "", abc_sha256)
                  .availableLocally);
  // Nor, with a signer, any file at hand: what arrives is checked.
  EXPECT_FALSE(DownloadedInstaller(nullptr, "", folder_.path(), "setup.exe", "", abc_sha256,
                                   "Kestrel Test Publisher")
                   .availableLocally);
}

// A corrupt file's cached copy goes under the redirect's target too, or the
// next attempt at the same address would get it from the cache again.
TEST_F(DownloaderTest, ADigestFailureDropsTheCachedCopyOfTheRedirectsTarget) {
  std::atomic<int> served{0};
  server_.SetResponder([&](const RecordedRequest& r) {
    if (r.target == "/old") return ResponsePlan::Redirect(302, Url("/new"));
    if (r.HasHeader("If-Modified-Since")) return ResponsePlan::Status(304);  // "unchanged"
    ResponsePlan plan = ResponsePlan::Status(200, served++ == 0 ? "abd" : "abc");
    plan.headers = {{"Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT"},
                    {"Cache-Control", "max-age=3600"}};
    return plan;
  });
  EXPECT_EQ(diagnostics::kMd5CheckFailed,
            AddStep(Url("/old"), kAbcMd5, "", VerifyingDigest).Download());
  EXPECT_EQ(1, AddStep(Url("/old"), kAbcMd5, "", VerifyingDigest).Download());
  EXPECT_EQ("abc", FileBytes());
}

TEST_F(DownloaderTest, AStepThatDoesNotVerifyIgnoresItsDigest) {
  server_.SetDefaultResponse(ResponsePlan::Status(200, "abc"));
  InstallStep& step = AddStep(Url("/TorvaneAgent.msi"), "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(1, step.Download());
  EXPECT_EQ("abc", FileBytes());
}

TEST_F(DownloaderTest, FileThatCannotBeCreatedFails) {
  server_.SetDefaultResponse(ResponsePlan::Status(200, "abc"));
  InstallStep& step = AddStep(Url("/dotnetfx.exe"), "", folder_.File("no such folder"));
  EXPECT_EQ(diagnostics::kFileCreationFailed, step.Download());
  EXPECT_FALSE(step.progress().downloadDone.Wait(0));
  EXPECT_EQ((std::vector<int>{diagnostics::kFileCreationFailed}), events_.Ids());
}

#ifndef _WIN32
// A full disk shows as a failed write: the download fails rather than hand
// on a truncated installer.
TEST_F(DownloaderTest, WriteFailureIsNotSuccess) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  server_.SetDefaultResponse(ResponsePlan::Generated(200000));
  InstallStep& step = AddStep(Url("/dotnetfx.exe"));
  // A link in the scratch folder: the failed download removes the link only.
  ASSERT_EQ(0, symlink("/dev/full", platform::NativePath(Target()).c_str()));
  EXPECT_EQ(diagnostics::kFileCreationFailed, step.Download());
  EXPECT_FALSE(step.progress().downloadDone.Wait(0));
  EXPECT_EQ((std::vector<int>{diagnostics::kFileCreationFailed}), events_.Ids());
}
#endif

}  // namespace

}  // namespace engine
