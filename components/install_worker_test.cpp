#include "components/install_worker.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "components/agent_launcher_step.h"
#include "components/dotnet_framework_step.h"
#include "components/install_session.h"
#include "components/miniserver_step.h"
#include "diagnostics/event_catalog.h"
#include "payload/settings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/sync.h"
#include "tests/fake_message_boxes.h"
#include "tests/fake_registry.h"
#include "tests/fake_windows_installer.h"
#include "tests/launcher_harness.h"
#include "tests/payload_builder.h"
#include "tests/recorded_events.h"
#include "tests/recording_progress_view.h"
#include "tests/run_context.h"
#include "tests/test_paths.h"

#ifndef _WIN32
#include <filesystem>

#include "tests/drive_root.h"
#endif

namespace components {

namespace {

using platform::RegistryRoot;
using test_payload::Entry;

const char kProductCode[] = "{67BFB40A-5EF0-49EF-8A51-E9EF7B3EB965}";
const char kNdp11[] = "Software\\Microsoft\\NET Framework Setup\\NDP\\v1.1.4322";

std::string Dword(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

#ifndef _WIN32
// An empty drive root of the test's own for the posix layer's C:\ (restored
// afterwards): the disk check and the interpreter are looked for there.
class ScopedDriveRoot {
 public:
  explicit ScopedDriveRoot(bool with_drive_c) {
    if (with_drive_c) std::filesystem::create_directories(root_.path() + "/c");
  }

 private:
  TempDriveRoot root_;
};
#endif

class InstallWorkerTest : public testing::Test {
 protected:
  void SetUp() override {
    config_.Store("DISPLAYID", "Parlor Deluxe");
    config_.Store("DESKID", "Parlor");
    config_.Store("CONTENTID", "\"Parlor_X\"");
    config_.Store("CATALOGID", "Cat1");
    config_.Store("TORVANEAGENTGUID", kProductCode);
    config_.Store("DOTNETFRAMEWORKVERSION", "1.1");
    config_.Store("TORVANEAGENTDEPENDENCY", "A");
    config_.Store("FILEPATH_ON_SYSTEM_STARTUP", startup());
    ASSERT_TRUE(platform::CreateFolder(work()));
  }
  std::string work() const { return scratch_.File("work"); }
  std::string startup() const { return scratch_.File("startup"); }
  void EverythingInstalled() {
    registry_.SetValue(RegistryRoot::kLocalMachine, kNdp11, "Install", Dword(1));
    registry_.SetValue(RegistryRoot::kLocalMachine, kNdp11, "SP", Dword(1));
    installer_.SetState(kProductCode, 5);
  }
  // The session over a payload of these entries.
  std::unique_ptr<InstallSession> Session(const std::string& entries,
                                          platform::Registry* registry = nullptr) {
    const std::string payload = scratch_.File("bootstrapper.exe");
    EXPECT_TRUE(test_paths::WriteWholeFile(payload, "image without a header" + entries));
    run_.reset(new TestRunContext(&events_, signals_, boxes_, registry ? registry : &registry_,
                                  &installer_));
    auto session = std::make_unique<InstallSession>(run_->context(), payload, work());
    session->configuration = config_;
    return session;
  }
  // The progress window is open: the install thread may start.
  void OpenProgressWindow() {
    signals_.progressWindow = &view_;
    signals_.installGoAhead.Release();
  }
  bool CookieFile(std::string* text) const {
    return test_paths::ReadWholeFile(platform::JoinPath(startup(), "cookie.txt"), text);
  }

  payload::Configuration config_;
  RecordedEvents events_;
  test_paths::ScratchFolder scratch_;
  FakeRegistry registry_;
  FakeWindowsInstaller installer_;
  engine::PipelineSignals signals_;
  FakeMessageBoxes boxes_;
  RecordingProgressView view_;
  std::unique_ptr<TestRunContext> run_;  // the last Session's
};

TEST_F(InstallWorkerTest, WithEverythingInstalledOnlyTheLauncherIsQueued) {
  EverythingInstalled();
  ASSERT_TRUE(platform::CreateFolder(startup()));
  auto session =
      Session(Entry("EULA.TXT", "CLIENT LICENCE") + Entry("TORVANEAGENTEULA.TXT", "AGENT LICENCE"));
  OpenProgressWindow();
  RunInstallWorker(*session);

  const engine::InstallManager& manager = session->manager;
  ASSERT_EQ(manager.steps().size(), 1u);
  auto* launcher = dynamic_cast<AgentLauncherStep*>(manager.steps()[0].get());
  ASSERT_NE(launcher, nullptr);
  EXPECT_EQ(launcher->deskId, "Parlor");
  EXPECT_EQ(launcher->contentName, "\"Parlor_X\"");
  EXPECT_EQ(launcher->dependencies, (std::vector<std::string>{"A"}));
  EXPECT_EQ(launcher->outputFolder, work());
  EXPECT_EQ(manager.StatusText(), "Requesting Parlor Deluxe files...");
  EXPECT_EQ(manager.EulaText(), "CLIENT LICENCE");
  EXPECT_TRUE(signals_.stepsReady.Wait(0));
  EXPECT_FALSE(signals_.stepsReady.Wait(0));  // released once

  std::string cookie;
  ASSERT_TRUE(CookieFile(&cookie));
  EXPECT_EQ(cookie, "Content=Parlor_X\r\nCatalog=Cat1");
  // The pipeline ran the launcher step, which found no agent folder, and the
  // worker closed the window.
  EXPECT_EQ(view_.status(), (std::vector<std::string>{"Requesting Parlor Deluxe files..."}));
  EXPECT_EQ(view_.closes(), 1);
  EXPECT_EQ(signals_.abortFlag.load(), 1);
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{diagnostics::kDotNetInstalled, diagnostics::kServicePackInstalled,
                              diagnostics::kAgentInstalled, diagnostics::kAgentLaunchStarted,
                              diagnostics::kAgentFolderNotFound}));
}

// A machine that runs out of memory while the steps are queued.
class ThrowingRegistry : public FakeRegistry {
 public:
  bool ReadValue(platform::RegistryRoot, const std::string&, const std::string&, size_t,
                 std::string*) override {
    throw std::bad_alloc();
  }
};

TEST_F(InstallWorkerTest, AnExceptionIsLoggedAndTheRunGoesOnToItsEnd) {
  ThrowingRegistry registry;
  auto session = Session(Entry("EULA.TXT", "CLIENT LICENCE"), &registry);
  OpenProgressWindow();
  InstallWorker(session.get());
  EXPECT_EQ(events_.Ids(), (std::vector<int>{diagnostics::kExitedOnException}));
  EXPECT_TRUE(signals_.stepsReady.Wait(0));  // the splash does not wait for ever
  EXPECT_EQ(signals_.abortFlag.load(), 1);
  EXPECT_EQ(view_.closes(), 1);
}

#ifndef _WIN32
TEST_F(InstallWorkerTest, AFailedDiskCheckAbandonsAndClosesTheProgressWindowOnceItIsUp) {
  ScopedDriveRoot no_drive_c(false);  // the system drive cannot be measured
  ASSERT_TRUE(platform::CreateFolder(startup()));
  config_.Store("DOTNETFRAMEWORK_MD5_KEY", "900150983cd24fb0d6963f7d28e17f72");  // of "abc"
  auto session =
      Session(Entry("EULA.TXT", "CLIENT LICENCE") + Entry("TORVANEAGENTEULA.TXT", "AGENT LICENCE") +
              Entry("DOTNETFX.EXE", "abc"));
  // The licence is still on screen while the worker finds the disk full.
  platform::Thread worker([](void* s) { RunInstallWorker(*static_cast<InstallSession*>(s)); },
                          session.get());
  for (int i = 0; i < 500 && !signals_.abortFlag.load(); ++i) platform::SleepMs(10);
  ASSERT_EQ(signals_.abortFlag.load(), 1);
  EXPECT_EQ(view_.closes(), 0);
  OpenProgressWindow();  // the licence was accepted
  worker.Join();
  EXPECT_EQ(view_.closes(), 1);

  const engine::InstallManager& manager = session->manager;
  ASSERT_EQ(manager.steps().size(), 4u);
  // The embedded installer was saved and is taken as the local copy.
  EXPECT_TRUE(manager.steps()[0]->plan().availableLocally);
  EXPECT_EQ(manager.steps()[0]->plan().downloadWeight, 0.0);
  EXPECT_NE(dynamic_cast<AgentLauncherStep*>(manager.steps()[3].get()), nullptr);
  EXPECT_EQ(manager.EulaText(), "AGENT LICENCE\r\n\r\nCLIENT LICENCE");
  EXPECT_EQ(manager.requiredMegabytes(), 50 + 50 + 65);
  EXPECT_TRUE(signals_.stepsReady.Wait(0));
  std::string cookie;
  EXPECT_FALSE(CookieFile(&cookie));
  const auto shown = boxes_.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "Installation Error");
  EXPECT_TRUE(view_.status().empty());  // nothing was installed
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{diagnostics::kDotNetMissing, diagnostics::kServicePackMissing,
                              diagnostics::kAgentMissing, diagnostics::kNotEnoughDiskSpace}));
}

TEST_F(InstallWorkerTest, AMiniServerBesideTheProgramTakesTheLaunchersPlace) {
  ScopedDriveRoot drive_c(true);  // room to spare, but no command interpreter
  EverythingInstalled();
  ASSERT_TRUE(platform::CreateFolder(startup()));
  ASSERT_TRUE(platform::CreateFolder(scratch_.File("launcher")));
  ASSERT_TRUE(test_paths::WriteWholeFile(scratch_.File("launcher\\miniserver.exe"), "x"));
  ScopedCurrentFolder here(scratch_.path());
  ASSERT_TRUE(here.ok());
  auto session = Session(Entry("EULA.TXT", "CLIENT LICENCE"));
  OpenProgressWindow();
  RunInstallWorker(*session);

  const engine::InstallManager& manager = session->manager;
  ASSERT_EQ(manager.steps().size(), 1u);
  auto* server = dynamic_cast<MiniServerStep*>(manager.steps()[0].get());
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(server->outputFolder, work());
  EXPECT_EQ(manager.StatusText(), "Installing...");
  EXPECT_EQ(manager.EulaText(), "CLIENT LICENCE");
  std::string cookie;
  EXPECT_TRUE(CookieFile(&cookie));
  EXPECT_EQ(view_.status(), (std::vector<std::string>{"Installing..."}));
  EXPECT_EQ(view_.closes(), 1);
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{diagnostics::kDotNetInstalled, diagnostics::kServicePackInstalled,
                              diagnostics::kAgentInstalled, diagnostics::kMiniServerFound,
                              diagnostics::kMiniServerLaunchFailed}));
}
#endif  // !_WIN32

}  // namespace

}  // namespace components
