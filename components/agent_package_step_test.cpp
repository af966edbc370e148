#include "components/agent_package_step.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "components/dotnet_framework_step.h"
#include "diagnostics/event_catalog.h"
#include "engine/install_manager.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "tests/fake_message_boxes.h"
#include "tests/fake_registry.h"
#include "tests/fake_windows_installer.h"
#include "tests/fixture_paths.h"
#include "tests/recorded_events.h"
#include "tests/run_context.h"
#include "tests/servers/loopback_http_server.h"
#include "tests/servers/watched_server.h"
#include "tests/test_paths.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace components {

namespace {

using platform::WindowsInstaller;
using testing_servers::LoopbackHttpServer;
using testing_servers::RecordedRequest;
using testing_servers::ResponsePlan;

const char kProductCode[] = "{67BFB40A-5EF0-49EF-8A51-E9EF7B3EB965}";
const char kInstallFolder[] =
    "C:\\Documents and Settings\\Tester\\Local Settings\\Temp\\TorvaneInstaller";

std::string SystemFolderAsWindowsSaysIt() {
#ifdef _WIN32
  char folder[MAX_PATH] = {0};
  GetSystemDirectoryA(folder, sizeof folder);
  return folder;
#else
  return "C:\\WINDOWS\\system32";  // the posix layer's system folder
#endif
}

class AgentPackageTest : public testing::Test {
 protected:
  // A step handed the test's run, as AddStep would hand it.
  std::unique_ptr<AgentPackageStep> Step(const std::string& url = "http://127.0.0.1:1/agent",
                                         const std::string& directory = kInstallFolder) {
    auto step = std::make_unique<AgentPackageStep>(
        "AGENT LICENCE", AgentDownload{url, directory, "TorvaneAgent.msi"}, kProductCode);
    step->Attach(run_.context(), nullptr);
    return step;
  }

  RecordedEvents events_;
  test_paths::ScratchFolder folder_;
  FakeWindowsInstaller installer_;
  engine::PipelineSignals signals_;
  FakeMessageBoxes boxes_;
  TestRunContext run_{&events_, signals_, boxes_, nullptr, &installer_};
  engine::InstallManager manager_{run_.context()};
};

TEST_F(AgentPackageTest, MsiexecRunsByItsFullPathWithTheQuotedPackage) {
  std::unique_ptr<AgentPackageStep> step = Step();
  EXPECT_EQ(step->plan().commandLine,
            "\"" + SystemFolderAsWindowsSaysIt() +
                "\\msiexec.exe\" /i \"C:\\Documents and Settings\\Tester\\Local "
                "Settings\\Temp\\TorvaneInstaller\\TorvaneAgent.msi\" /qn REBOOT=ReallySuppress");
  EXPECT_EQ(step->plan().displayName, "Brindle Agent");
  EXPECT_EQ(step->plan().downloadWeight, 1.0);
  EXPECT_EQ(step->plan().installWeight, 1.0);
  EXPECT_EQ(step->plan().requiredMegabytes, 65);
  EXPECT_EQ(step->plan().expectedInstallSeconds, 15);
  EXPECT_TRUE(step->plan().md5.empty());
}

TEST_F(AgentPackageTest, APackageLeftByAnEarlierRunIsFetchedAgain) {
  ASSERT_TRUE(test_paths::WriteWholeFile(folder_.File("TorvaneAgent.msi"), "old package"));
  std::unique_ptr<AgentPackageStep> step = Step("http://127.0.0.1:1/agent", folder_.path());
  EXPECT_FALSE(step->plan().availableLocally);
  EXPECT_EQ(step->plan().downloadWeight, 1.0);
}

TEST_F(AgentPackageTest, OnlyTheDefaultStateCountsAsInstalled) {
  installer_.SetState(kProductCode, 5);
  manager_.AddStep(Step());
  EXPECT_TRUE(manager_.steps().empty());
  EXPECT_TRUE(manager_.EulaText().empty());  // a dropped step's licence is not shown
  EXPECT_EQ(manager_.requiredMegabytes(), 0);
  // Advertised (1), absent (2), unknown product (-1), invalid argument (-2).
  for (int state : {1, 2, -1, -2}) {
    installer_.SetState(kProductCode, state);
    EXPECT_FALSE(Step()->IsInstalled()) << state;
  }
  EXPECT_EQ(installer_.queries(), std::vector<std::string>(5, kProductCode));
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{diagnostics::kAgentInstalled, diagnostics::kAgentMissing,
                              diagnostics::kAgentMissing, diagnostics::kAgentMissing,
                              diagnostics::kAgentMissing}));
  EXPECT_EQ(signals_.abortFlag.load(), 0);
}

TEST_F(AgentPackageTest, AMissingAgentIsQueuedWithItsLicenceFirst) {
  const DotNetDownload framework{"", "", "", folder_.path(), "dotnetfx.exe", "1"};
  // The run's registry is empty: no Framework.
  manager_.AddStep(std::make_unique<DotNetFrameworkStep>("DOTNET LICENCE", framework));
  manager_.AddStep(Step());
  ASSERT_EQ(manager_.steps().size(), 2u);
  EXPECT_EQ(manager_.EulaText(), "AGENT LICENCE\r\n\r\nDOTNET LICENCE");
  EXPECT_EQ(manager_.requiredMegabytes(), 50 + 65);
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{diagnostics::kDotNetMissing, diagnostics::kAgentMissing}));
}

TEST_F(AgentPackageTest, WithoutTheInstallerLibraryTheInstallationIsAbandoned) {
  installer_.FailWith(WindowsInstaller::Outcome::kNoLibrary, 126);
  manager_.AddStep(Step());
  EXPECT_EQ(manager_.steps().size(), 1u);  // queued: the pipeline stops at its first download
  EXPECT_EQ(signals_.abortFlag.load(), 1);
  EXPECT_TRUE(signals_.abortSignal.Wait(0));
  installer_.FailWith(WindowsInstaller::Outcome::kNoFunction, 127);
  manager_.AddStep(Step());

  const auto shown = boxes_.shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].title, "Installation Error");
  EXPECT_EQ(shown[0].style, platform::kMessageOk);
  EXPECT_THAT(shown[0].text, testing::EndsWith("<Error Code: 126>"));
  EXPECT_THAT(shown[1].text, testing::EndsWith("<Error Code: 127>"));
  EXPECT_TRUE(events_.Ids().empty());  // the box says it; no event is posted
}

class AgentDownloadTest : public AgentPackageTest {
 protected:
  void SetUp() override {
    server_.SetResponder([](const RecordedRequest& request) {
      if (request.target == "/agent.msi") {
        return ResponsePlan::Status(200, MsiSignature() + "new package");
      }
      if (request.target == "/portal") {
        return ResponsePlan::Status(200, "<html>Please log in to use this network.</html>");
      }
      if (request.target == "/slow")
        return ResponsePlan::SlowBody(std::string(200000, 'x'), 1024, 20);
      return ResponsePlan::Status(404);
    });
    ASSERT_EQ(server_.Start(), LoopbackHttpServer::StartResult::kOk);
  }
  engine::InstallStep& Queue(const std::string& path) {
    manager_.AddStep(Step(testing_servers::LoopbackUrl(server_.port(), path), folder_.path()));
    return *manager_.steps().back();
  }
  LoopbackHttpServer server_;
};

TEST_F(AgentDownloadTest, DownloadOverwritesAnOldPackage) {
  ASSERT_TRUE(test_paths::WriteWholeFile(folder_.File("TorvaneAgent.msi"), "old package"));
  engine::InstallStep& step = Queue("/agent.msi");
  EXPECT_EQ(step.Download(), 1);
  std::string bytes;
  ASSERT_TRUE(test_paths::ReadWholeFile(folder_.File("TorvaneAgent.msi"), &bytes));
  EXPECT_EQ(bytes, MsiSignature() + "new package");
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{diagnostics::kAgentMissing, diagnostics::kAgentDownloadStarted,
                              diagnostics::kAgentDownloadCompleted}));
}

// No digest guards the package, so a captive portal's page would reach
// msiexec: anything that is no Windows Installer package fails the download.
TEST_F(AgentDownloadTest, AWebPageInsteadOfThePackageFailsAndIsRemoved) {
  ASSERT_TRUE(test_paths::WriteWholeFile(folder_.File("TorvaneAgent.msi"), "old package"));
  engine::InstallStep& step = Queue("/portal");
  EXPECT_EQ(step.Download(), diagnostics::kHttpError);
  EXPECT_FALSE(platform::PathExists(folder_.File("TorvaneAgent.msi")));
  EXPECT_FALSE(step.progress().downloadDone.Wait(0));
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{diagnostics::kAgentMissing, diagnostics::kAgentDownloadStarted,
                              diagnostics::kHttpError, diagnostics::kAgentDownloadFailed}));
}

TEST_F(AgentDownloadTest, AFailedDownloadHasNoSecondAddressAndNoBox) {
  engine::InstallStep& step = Queue("/missing");
  EXPECT_EQ(step.Download(), diagnostics::kHttpError);
  EXPECT_EQ(server_.RequestCount(), 1u);
  EXPECT_TRUE(boxes_.shown().empty());
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{diagnostics::kAgentMissing, diagnostics::kAgentDownloadStarted,
                              diagnostics::kHttpError, diagnostics::kAgentDownloadFailed}));
}

TEST_F(AgentDownloadTest, CancelDuringTheDownload) {
  engine::InstallStep& step = Queue("/slow");
  std::thread cancel([this] {
    server_.WaitForRequests(1, 10000);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    AbortInstallation(signals_);
  });
  EXPECT_EQ(step.Download(), diagnostics::kDownloadTerminated);
  cancel.join();
  EXPECT_EQ(
      events_.Ids(),
      (std::vector<int>{diagnostics::kAgentMissing, diagnostics::kAgentDownloadStarted,
                        diagnostics::kDownloadTerminated, diagnostics::kAgentDownloadCancelled}));
}

#ifdef _WIN32
// The real Windows Installer with the test package built by wixl.
class AgentPackageUnderWindows : public testing::Test {
 protected:
  std::unique_ptr<AgentPackageStep> Step(const std::string& package, const std::string& code) {
    const std::string fixtures = test_paths::FixturePath("");
    auto step =
        std::make_unique<AgentPackageStep>(nullptr, AgentDownload{"", fixtures, package}, code);
    step->Attach(run_.context(), nullptr);
    return step;
  }
  static int Msiexec(const std::string& arguments) {
    uint32_t error = 0;
    std::unique_ptr<platform::Process> process = platform::Process::Start(
        "\"" + SystemFolderAsWindowsSaysIt() + "\\msiexec.exe\" " + arguments, &error);
    if (!process || !process->WaitForExit(60000)) return -1;
    return process->ExitCode();
  }

  RecordedEvents events_;
  engine::PipelineSignals signals_;
  FakeMessageBoxes boxes_;
  TestRunContext run_{&events_, signals_, boxes_, &platform::SystemRegistry(),
                      &platform::SystemWindowsInstaller()};
};

TEST_F(AgentPackageUnderWindows, InstallsTheTestPackageWithMsiexec) {
  EXPECT_FALSE(Step("TestAgent.msi", kProductCode)->IsInstalled());
  std::unique_ptr<AgentPackageStep> step = Step("TestAgent.msi", kProductCode);
  ASSERT_EQ(step->Install(), 1);
  EXPECT_TRUE(step->progress().installDone.Wait(0));
  EXPECT_TRUE(Step("TestAgent.msi", kProductCode)->IsInstalled());

  // What the package records for the launcher step and the event reports.
  std::string path, guid;
  EXPECT_TRUE(platform::SystemRegistry().ReadString(
      platform::RegistryRoot::kCurrentUser, "SOFTWARE\\Torvane", "RuntimePath", 260, &path));
  EXPECT_EQ(path, "C:\\Program Files\\Torvane\\Agent\\");
  EXPECT_TRUE(platform::SystemRegistry().ReadString(
      platform::RegistryRoot::kCurrentUser, "SOFTWARE\\Torvane", "RuntimeGuid", 260, &guid));
  EXPECT_EQ(guid, "763FFD6B-A198-4866-A687-FB9E5BC14769");

  EXPECT_EQ(Msiexec(std::string("/x ") + kProductCode + " /qn"), 0);
  EXPECT_FALSE(Step("TestAgent.msi", kProductCode)->IsInstalled());
  EXPECT_TRUE(boxes_.shown().empty());
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{diagnostics::kAgentMissing, diagnostics::kAgentInstallStarted,
                              diagnostics::kAgentInstallCompleted, diagnostics::kAgentInstalled,
                              diagnostics::kAgentMissing}));
}

TEST_F(AgentPackageUnderWindows, AFailingPackageReportsTheInstallerExitCode) {
  const char failing_code[] = "{200319D5-171E-4A35-B7F9-75F40CAE980C}";
  std::unique_ptr<AgentPackageStep> step = Step("TestAgentFailing.msi", failing_code);
  EXPECT_EQ(step->Install(), 1603);
  EXPECT_FALSE(step->progress().installDone.Wait(0));
  const auto shown = boxes_.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "Installation Error");
  EXPECT_THAT(shown[0].text, testing::EndsWith("<Error Code: 1603>"));
  EXPECT_FALSE(Step("TestAgentFailing.msi", failing_code)->IsInstalled());
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{diagnostics::kAgentInstallStarted, diagnostics::kInstallationError,
                              diagnostics::kAgentInstallFailed, diagnostics::kAgentMissing}));
}
#endif

}  // namespace

}  // namespace components
