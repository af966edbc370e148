#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "components/dotnet_framework_step.h"
#include "components/dotnet_service_pack_step.h"
#include "diagnostics/event_catalog.h"
#include "engine/install_manager.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "tests/fake_message_boxes.h"
#include "tests/fake_registry.h"
#include "tests/fixture_paths.h"
#include "tests/recorded_events.h"
#include "tests/run_context.h"
#include "tests/servers/loopback_http_server.h"
#include "tests/servers/watched_server.h"
#include "tests/test_paths.h"

namespace components {

namespace {

using platform::RegistryRoot;
using testing_servers::LoopbackHttpServer;
using testing_servers::RecordedRequest;
using testing_servers::ResponsePlan;

const char kNdp11[] = "Software\\Microsoft\\NET Framework Setup\\NDP\\v1.1.4322";
const char kNdp20[] = "Software\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727";
const char kPolicy10[] = "Software\\Microsoft\\.NETFramework\\Policy\\v1.0";
const char kActiveSetup10[] =
    "Software\\Microsoft\\Active Setup\\Installed "
    "Components\\{FDC11A6F-17D1-48f9-9EA3-9051954BAA24}";

std::string Dword(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

class DotNetStepsTest : public testing::Test {
 protected:
  // A step handed this test's run, as AddStep hands it the manager's.
  template <class Step>
  std::unique_ptr<Step> Attached(std::unique_ptr<Step> step) {
    step->Attach(run_.context(), nullptr);
    return step;
  }
  std::unique_ptr<DotNetFrameworkStep> Framework(const std::string& code) {
    return Attached(
        std::make_unique<DotNetFrameworkStep>(nullptr, Addresses("dotnetfx.exe", code)));
  }
  std::unique_ptr<DotNetServicePackStep> ServicePack(const std::string& code) {
    return Attached(
        std::make_unique<DotNetServicePackStep>(nullptr, Addresses("dotnetServicePack.exe", code)));
  }
  DotNetDownload Addresses(const std::string& fileName, const std::string& code) {
    return {"http://127.0.0.1:1/a", "http://127.0.0.1:1/b", "", folder_.path(), fileName, code};
  }
  RecordedEvents events_;
  test_paths::ScratchFolder folder_;
  FakeRegistry registry_;
  engine::PipelineSignals signals_;
  FakeMessageBoxes boxes_;
  TestRunContext run_{&events_, signals_, boxes_, &registry_};
};

TEST_F(DotNetStepsTest, CommandLinesQuoteTheInstallerAndKeepTheSwitchesExact) {
  const std::string path = "\"" + folder_.File("dotnetfx.exe") + "\"";
  EXPECT_EQ(Framework("1")->plan().commandLine, path + " /q:a /c:\"install /l /q\"");
  EXPECT_EQ(Framework("")->plan().commandLine, path + " /q:a /c:\"install /l /q\"");
  EXPECT_EQ(
      Framework("0")->plan().commandLine,
      path + " /q:a /c:\"install.exe /u /p Microsoft .NET Framework Full v1.0.3705 (1033) /q\"");
  EXPECT_EQ(ServicePack("1")->plan().commandLine,
            "\"" + folder_.File("dotnetServicePack.exe") + "\" /q");
}

TEST_F(DotNetStepsTest, WeightsDependOnALocalCopy) {
  EXPECT_EQ(Framework("1")->plan().downloadWeight, 2.0);
  EXPECT_EQ(ServicePack("1")->plan().downloadWeight, 1.5);
  ASSERT_TRUE(test_paths::WriteWholeFile(folder_.File("dotnetfx.exe"), "installer"));
  std::unique_ptr<DotNetFrameworkStep> local = Framework("1");
  EXPECT_TRUE(local->plan().availableLocally);
  EXPECT_EQ(local->plan().downloadWeight, 0.0);
  EXPECT_EQ(local->plan().installWeight, 3.0);
  EXPECT_EQ(local->plan().requiredMegabytes, 50);
}

TEST_F(DotNetStepsTest, AConfiguredDigestRejectsAStaleLocalFile) {
  ASSERT_TRUE(test_paths::WriteWholeFile(folder_.File("dotnetfx.exe"), "partial"));
  const DotNetDownload download{
      "u", "v", "0123456789abcdef0123456789abcdef", folder_.path(), "dotnetfx.exe", "1"};
  DotNetFrameworkStep step(nullptr, download);
  EXPECT_FALSE(step.plan().availableLocally);
}

TEST_F(DotNetStepsTest, FrameworkCheckFollowsTheVersionTable) {
  registry_.SetValue(RegistryRoot::kLocalMachine, kNdp11, "Install", Dword(1));
  EXPECT_TRUE(Framework("1")->IsInstalled());
  EXPECT_TRUE(Framework("3")->IsInstalled());  // unknown versions read the 1.1 key
  EXPECT_FALSE(Framework("2")->IsInstalled());
  registry_.SetValue(RegistryRoot::kLocalMachine, kNdp20, "Install", Dword(1));
  EXPECT_TRUE(Framework("2")->IsInstalled());
  registry_.SetValue(RegistryRoot::kLocalMachine, kNdp11, "Install", Dword(0));
  EXPECT_FALSE(Framework("1")->IsInstalled());
  EXPECT_FALSE(Framework("")->IsInstalled());  // empty code: the 1.0 policy key
  registry_.SetString(RegistryRoot::kLocalMachine, kPolicy10, "3705", "anything");
  EXPECT_TRUE(Framework("")->IsInstalled());
  EXPECT_TRUE(Framework("0")->IsInstalled());
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{diagnostics::kDotNetInstalled, diagnostics::kDotNetInstalled,
                              diagnostics::kDotNetMissing, diagnostics::kDotNetInstalled,
                              diagnostics::kDotNetMissing, diagnostics::kDotNetMissing,
                              diagnostics::kDotNetInstalled, diagnostics::kDotNetInstalled}));
}

TEST_F(DotNetStepsTest, ServicePackCheckCountsOnlyLevelOne) {
  registry_.SetValue(RegistryRoot::kLocalMachine, kNdp11, "SP", Dword(1));
  EXPECT_TRUE(ServicePack("1")->IsInstalled());
  registry_.SetValue(RegistryRoot::kLocalMachine, kNdp11, "SP", Dword(2));
  EXPECT_FALSE(ServicePack("1")->IsInstalled());
  registry_.SetString(RegistryRoot::kLocalMachine, kActiveSetup10, "Version", "1,0,3705,1");
  EXPECT_TRUE(ServicePack("0")->IsInstalled());
  registry_.SetString(RegistryRoot::kLocalMachine, kActiveSetup10, "Version", "1,0,3705,0");
  EXPECT_FALSE(ServicePack("0")->IsInstalled());
  registry_.SetString(RegistryRoot::kLocalMachine, kActiveSetup10, "Version", "1");
  EXPECT_FALSE(ServicePack("")->IsInstalled());
  const int reads_before = registry_.read_count();
  EXPECT_FALSE(ServicePack("3")->IsInstalled());
  EXPECT_EQ(registry_.read_count(), reads_before);  // no key for other versions
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{diagnostics::kServicePackInstalled, diagnostics::kServicePackMissing,
                              diagnostics::kServicePackInstalled, diagnostics::kServicePackMissing,
                              diagnostics::kServicePackMissing, diagnostics::kServicePackMissing}));
}

// The download events of one of the two prerequisite steps, as its table lists them.
struct StepKind {
  const char* name;
  bool framework;
  int checked_missing, primary_started, primary_done, primary_failed, secondary_started, secondary_done,
      both_failed, primary_cancelled, secondary_cancelled;
};

void PrintTo(const StepKind& kind, std::ostream* out) { *out << kind.name; }

const StepKind kFramework = {"Framework",
                             true,
                             diagnostics::kDotNetMissing,
                             diagnostics::kDotNetPrimaryDownloadStarted,
                             diagnostics::kDotNetPrimaryDownloadCompleted,
                             diagnostics::kDotNetPrimaryDownloadFailed,
                             diagnostics::kDotNetSecondaryDownloadStarted,
                             diagnostics::kDotNetSecondaryDownloadCompleted,
                             diagnostics::kDotNetSecondaryDownloadFailed,
                             diagnostics::kDotNetPrimaryDownloadCancelled,
                             diagnostics::kDotNetSecondaryDownloadCancelled};
const StepKind kServicePack = {"ServicePack",
                               false,
                               diagnostics::kServicePackMissing,
                               diagnostics::kServicePackPrimaryDownloadStarted,
                               diagnostics::kServicePackPrimaryDownloadCompleted,
                               diagnostics::kServicePackPrimaryDownloadFailed,
                               diagnostics::kServicePackSecondaryDownloadStarted,
                               diagnostics::kServicePackSecondaryDownloadCompleted,
                               diagnostics::kServicePackSecondaryDownloadFailed,
                               diagnostics::kServicePackPrimaryDownloadCancelled,
                               diagnostics::kServicePackSecondaryDownloadCancelled};

// RFC 1321's digest of "abc".
const char kAbcMd5[] = "900150983cd24fb0d6963f7d28e17f72";

class DotNetDownloadTest : public testing::TestWithParam<StepKind> {
 protected:
  void SetUp() override {
    server_.SetResponder([](const RecordedRequest& request) {
      if (request.target == "/abc") return ResponsePlan::Status(200, "abc");
      if (request.target == "/abd") return ResponsePlan::Status(200, "abd");
      // 2000 and 1000 of 3000 bytes: together as many as promised.
      if (request.target == "/broken") return ResponsePlan::ShortBody(std::string(2000, 'p'), 3000);
      if (request.target == "/short") return ResponsePlan::ShortBody(std::string(1000, 's'), 3000);
      // 200 KB in 1 KB pieces 20 ms apart: still running when the test cancels.
      if (request.target == "/slow")
        return ResponsePlan::SlowBody(std::string(200000, 'x'), 1024, 20);
      return ResponsePlan::Status(404, "gone");
    });
    ASSERT_EQ(server_.Start(), LoopbackHttpServer::StartResult::kOk);
  }
  std::string Url(const std::string& path) const {
    return testing_servers::LoopbackUrl(server_.port(), path);
  }
  // The step of this kind for the two addresses, queued (not installed).
  engine::InstallStep& Queue(const std::string& primary, const std::string& secondary,
                             const std::string& md5 = kAbcMd5) {
    if (GetParam().framework) {
      manager_.AddStep(std::make_unique<DotNetFrameworkStep>(
          nullptr,
          DotNetDownload{Url(primary), Url(secondary), md5, folder_.path(), "dotnetfx.exe", "1"}));
    } else {
      manager_.AddStep(std::make_unique<DotNetServicePackStep>(
          nullptr, DotNetDownload{Url(primary), Url(secondary), md5, folder_.path(),
                                  "dotnetServicePack.exe", "1"}));
    }
    return *manager_.steps().back();
  }
  // The step's download, cancelled as the progress window does once `count`
  // requests have arrived.
  int DownloadCancelledAfterRequests(engine::InstallStep& step, size_t count) {
    std::thread cancel([this, count] {
      if (server_.WaitForRequests(count, 10000)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      AbortInstallation(signals_);
    });
    const int result = step.Download();
    cancel.join();
    return result;
  }

  RecordedEvents events_;
  test_paths::ScratchFolder folder_;
  FakeRegistry registry_;
  engine::PipelineSignals signals_;
  FakeMessageBoxes boxes_;
  TestRunContext run_{&events_, signals_, boxes_, &registry_};
  engine::InstallManager manager_{run_.context()};
  LoopbackHttpServer server_;
};

TEST_P(DotNetDownloadTest, PrimaryFailsAndTheSecondaryServes) {
  const StepKind& k = GetParam();
  engine::InstallStep& step = Queue("/missing", "/abc");
  EXPECT_EQ(step.Download(), 1);
  EXPECT_EQ(server_.Requests().back().target, "/abc");  // the secondary address served
  std::string bytes;
  ASSERT_TRUE(test_paths::ReadWholeFile(step.plan().localPath, &bytes));
  EXPECT_EQ(bytes, "abc");
  EXPECT_TRUE(step.progress().downloadDone.Wait(0));
  EXPECT_TRUE(boxes_.shown().empty());
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{k.checked_missing, k.primary_started, diagnostics::kHttpError,
                              k.primary_failed, k.secondary_started, k.secondary_done}));
}

TEST_P(DotNetDownloadTest, BothFailingShowOneBoxWithTheLastFailureCode) {
  const StepKind& k = GetParam();
  // The primary answers 404 (9058); the secondary's body fails its digest (9062).
  engine::InstallStep& step = Queue("/missing", "/abd");
  EXPECT_EQ(step.Download(), diagnostics::kMd5CheckFailed);
  EXPECT_FALSE(platform::PathExists(step.plan().localPath));  // a file that failed its digest goes
  const auto shown = boxes_.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "Download Error");
  EXPECT_EQ(shown[0].style, platform::kMessageOk);
  EXPECT_NE(shown[0].text.find("contact support"), std::string::npos);
  EXPECT_EQ(shown[0].text.substr(shown[0].text.size() - 18), "<Error Code: 9062>");
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{k.checked_missing, k.primary_started, diagnostics::kHttpError,
                              k.primary_failed, k.secondary_started, diagnostics::kMd5CheckFailed,
                              k.both_failed}));
}

// Without a configured digest only the length tells a whole body: the bytes of
// the broken primary must not count towards the secondary's.
TEST_P(DotNetDownloadTest, AShortSecondaryFailsAfterABrokenPrimary) {
  const StepKind& k = GetParam();
  engine::InstallStep& step = Queue("/broken", "/short", "");
  EXPECT_EQ(step.Download(), diagnostics::kHttpError);
  EXPECT_FALSE(step.progress().downloadDone.Wait(0));
  EXPECT_FALSE(platform::PathExists(step.plan().localPath));
  EXPECT_EQ(step.progress().bytesReceived.load(), 1000.0);
  const auto shown = boxes_.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "Download Error");
  const std::string log = events_.LogText();
  EXPECT_NE(log.find("The download ended early: 2000 of 3000 bytes arrived."), std::string::npos);
  EXPECT_NE(log.find("The download ended early: 1000 of 3000 bytes arrived."), std::string::npos);
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{k.checked_missing, k.primary_started, diagnostics::kHttpError,
                              k.primary_failed, k.secondary_started, diagnostics::kHttpError,
                              k.both_failed}));
}

TEST_P(DotNetDownloadTest, CancelDuringThePrimaryStopsWithoutTheSecondaryOrABox) {
  const StepKind& k = GetParam();
  engine::InstallStep& step = Queue("/slow", "/abc");
  EXPECT_EQ(DownloadCancelledAfterRequests(step, 1), k.primary_cancelled);
  EXPECT_EQ(server_.RequestCount(), 1u);
  EXPECT_TRUE(boxes_.shown().empty());
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{k.checked_missing, k.primary_started,
                              diagnostics::kDownloadTerminated, k.primary_cancelled}));
}

TEST_P(DotNetDownloadTest, CancelDuringTheSecondaryReturnsItsOwnEvent) {
  const StepKind& k = GetParam();
  engine::InstallStep& step = Queue("/missing", "/slow");
  EXPECT_EQ(DownloadCancelledAfterRequests(step, 2), k.secondary_cancelled);
  EXPECT_TRUE(boxes_.shown().empty());
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{k.checked_missing, k.primary_started, diagnostics::kHttpError,
                              k.primary_failed, k.secondary_started,
                              diagnostics::kDownloadTerminated, k.secondary_cancelled}));
}

TEST_P(DotNetDownloadTest, AVerifiedLocalCopyIsNotFetched) {
  const StepKind& k = GetParam();
  ASSERT_TRUE(test_paths::WriteWholeFile(
      folder_.File(k.framework ? "dotnetfx.exe" : "dotnetServicePack.exe"), "abc"));
  engine::InstallStep& step = Queue("/abc", "/abc");
  EXPECT_TRUE(step.plan().availableLocally);
  EXPECT_EQ(step.plan().downloadWeight, 0.0);
  EXPECT_EQ(step.Download(), 1);
  EXPECT_EQ(server_.RequestCount(), 0u);
  EXPECT_EQ(events_.Ids(), (std::vector<int>{k.checked_missing, k.primary_started,
                                             diagnostics::kLocalInstallerFound, k.primary_done}));
}

INSTANTIATE_TEST_SUITE_P(Steps, DotNetDownloadTest, testing::Values(kFramework, kServicePack),
                         [](const testing::TestParamInfo<StepKind>& info) {
                           return std::string(info.param.name);
                         });

#ifdef _WIN32
// The fake .NET installer run from a folder whose path has blanks: the quoted
// path reaches it whole, and it writes what the installed-check reads.
TEST(DotNetInstallUnderWindows, TheQuotedInstallerPathRunsFromAFolderWithBlanks) {
  RecordedEvents events;
  test_paths::ScratchFolder scratch;
  const std::string folder = scratch.File("Documents and Settings");
  ASSERT_TRUE(platform::CreateFolder(folder));
  ASSERT_TRUE(
      test_paths::CopyFixture("fake_dotnetfx.exe", platform::JoinPath(folder, "dotnetfx.exe")));

  engine::PipelineSignals signals;
  FakeMessageBoxes boxes;
  FakeRegistry missing;  // queued whatever the prefix holds
  TestRunContext run(&events, signals, boxes, &missing);
  engine::InstallManager manager(run.context());
  const DotNetDownload local{"", "", "", folder, "dotnetfx.exe", "1"};
  manager.AddStep(std::make_unique<DotNetFrameworkStep>(nullptr, local));
  ASSERT_EQ(manager.steps().size(), 1u);
  EXPECT_EQ(manager.steps()[0]->Install(), 1);
  std::string log;
  ASSERT_TRUE(test_paths::ReadWholeFile(platform::JoinPath(folder, "dotnetfx.exe.log"), &log));
  EXPECT_NE(log.find("/q:a /c:\"install /l /q\""), std::string::npos) << log;
  DotNetFrameworkStep check(nullptr, local);
  TestRunContext real(&events, signals, boxes, &platform::SystemRegistry());
  check.Attach(real.context(), nullptr);
  EXPECT_TRUE(check.IsInstalled());  // the real registry now has v1.1.4322 Install=1
  EXPECT_TRUE(boxes.shown().empty());
  EXPECT_EQ(
      events.Ids(),
      (std::vector<int>{diagnostics::kDotNetMissing, diagnostics::kDotNetInstallStarted,
                        diagnostics::kDotNetInstallCompleted, diagnostics::kDotNetInstalled}));
}
#endif

}  // namespace

}  // namespace components
