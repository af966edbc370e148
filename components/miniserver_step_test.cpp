#include "components/miniserver_step.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/event_catalog.h"
#include "engine/install_manager.h"
#include "payload/cookie_file.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/fake_message_boxes.h"
#include "tests/fixture_paths.h"
#include "tests/launcher_harness.h"
#include "tests/recorded_events.h"
#include "tests/run_context.h"
#include "tests/test_paths.h"

namespace components {

namespace {

class MiniServerTest : public testing::Test {
 protected:
  MiniServerStep& Queue(const std::string& outputFolder) {
    manager_.AddStep(std::make_unique<MiniServerStep>("CLIENT LICENCE", outputFolder));
    return static_cast<MiniServerStep&>(*manager_.steps().back());
  }

  RecordedEvents events_;
  test_paths::ScratchFolder folder_;
  engine::PipelineSignals signals_;
  FakeMessageBoxes boxes_;
  TestRunContext run_{&events_, signals_, boxes_};
  engine::InstallManager manager_{run_.context()};
};

TEST_F(MiniServerTest, QueuedAsTheGatedLastStepTrackingContent) {
  MiniServerStep& step = Queue("C:\\Out");
  EXPECT_EQ(manager_.EulaText(), "CLIENT LICENCE");
  EXPECT_EQ(manager_.requiredMegabytes(), 65);
  EXPECT_EQ(step.contentName, "Content");
  EXPECT_EQ(step.plan().waitLevel, 1);
  EXPECT_EQ(step.plan().selfReportedProgress, 1);
  EXPECT_EQ(step.plan().downloadWeight, 0.0);
  EXPECT_EQ(step.plan().installWeight, 1.0);
  EXPECT_EQ(step.timing.final_pause_ms, 5000u);  // before its interpreter is ended
}

TEST_F(MiniServerTest, PresentOnlyUnderTheCurrentFolder) {
  ScopedCurrentFolder here(folder_.path());
  ASSERT_TRUE(here.ok());
  EXPECT_FALSE(IsMiniServerPresent(events_));
  ASSERT_TRUE(platform::CreateFolder(folder_.File("launcher")));
  ASSERT_TRUE(test_paths::WriteWholeFile(folder_.File("launcher\\miniserver.exe"), "x"));
  EXPECT_TRUE(IsMiniServerPresent(events_));
  EXPECT_EQ(events_.Ids(), (std::vector<int>{diagnostics::kMiniServerFound}));
}

#ifndef _WIN32
class MiniServerRunTest : public MiniServerTest {
 protected:
  static constexpr const char* kOutput =
      "C:\\Documents and Settings\\Tester\\Local "
      "Settings\\Temp\\TorvaneInstaller\\MiniServerOutput.txt";

  void SetUp() override { ASSERT_TRUE(drive_.MakeEmptyFile(kOutput)); }
  MiniServerStep& QueueRun() {
    MiniServerStep& step = Queue(kTesterWorkFolder);
    step.timing.poll_ms = 2;
    step.timing.final_pause_ms = 0;
    return step;
  }
  std::string Append(const std::string& line) const {
    return drive_.AppendLines(kOutput, "'" + line + "'");
  }

  FakeInterpreterDrive drive_;
};

TEST_F(MiniServerRunTest, ContentProgressThenTheFullBarWhenItEnds) {
  MiniServerStep& step = QueueRun();
  drive_.SetProgram(Append("<DownloadProgress AppName=\"Content\" Percent=\"40\" />") +
                    "\nsleep 0.8");
  FractionLog log(step);

  EXPECT_EQ(step.Install(), 1);
  EXPECT_TRUE(step.progress().installDone.Wait(0));
  EXPECT_EQ(drive_.CommandLineSeen(),
            " /K \"\".\\launcher\\miniserver.exe\" -ld c > \"" + std::string(kOutput) + "\"\"");
  const std::vector<double> fractions = log.values();
  ASSERT_GE(fractions.size(), 3u);
  // 0.75 x 40 x 0.01 = 0.30 from the output, then at most fifteen hundredths
  // of creeping, then 1.0 once the MiniServer has ended.
  bool saw_output = false;
  for (double fraction : fractions) saw_output |= std::abs(fraction - 0.30) < 1e-9;
  EXPECT_TRUE(saw_output);
  EXPECT_NEAR(fractions[fractions.size() - 2], 0.45, 1e-9);
  EXPECT_EQ(fractions.back(), 1.0);
  EXPECT_TRUE(events_.Ids().empty());  // an ordinary end posts nothing
}

TEST_F(MiniServerRunTest, OutputWrittenJustBeforeTheEndIsApplied) {
  MiniServerStep& step = QueueRun();
  drive_.SetProgram(
      Append("<DownloadProgress AppName=\"Content\" Percent=\"100\" />") + "\n" +
      Append("<CurrentStep Step=\"ApplicationWait\" State=\"Finished\">Parlor</CurrentStep>") +
      "\n" +
      Append("<CurrentStep Step=\"ApplicationStart\" State=\"Finished\">"
             "Torvane.Ads.AgentAdEngine</CurrentStep>"));
  EXPECT_EQ(step.Install(), 1);
  EXPECT_EQ(step.output.trackedPercent, 100);
  EXPECT_EQ(step.output.deskPercent, 100);
  EXPECT_EQ(step.output.adEnginePercent, 100);
  EXPECT_EQ(step.output.webServicesPercent, 0);
}

TEST_F(MiniServerRunTest, AnErrorLineEndsTheWatchAtOnce) {
  MiniServerStep& step = QueueRun();
  drive_.SetProgram(Append("<Error Msg=\"No room\" Code=\"112\" />") +
                    "\nwhile :; do sleep 0.05; done");
  EXPECT_EQ(step.Install(), diagnostics::kInstallationTerminated);
  EXPECT_FALSE(step.progress().installDone.Wait(0));
  const auto shown = boxes_.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "Installation Error");
  EXPECT_THAT(shown[0].text, testing::EndsWith("<Error Code: 112>"));
  EXPECT_EQ(events_.Ids(), (std::vector<int>{diagnostics::kInstallationError,
                                             diagnostics::kInstallationTerminated}));
}

// Cancelled while the MiniServer is still writing a line: the read after the
// loop must not take the half line for a whole Error line.
TEST_F(MiniServerRunTest, AHalfWrittenErrorLineIsNotReportedWhenTheRunIsAbandoned) {
  MiniServerStep& step = QueueRun();
  drive_.SetProgram("printf '%s' '<Error Msg=\"Disk' >> " + drive_.ShellQuoted(kOutput) +
                    "\nwhile :; do sleep 0.05; done");
  std::thread cancel([this] {
    // The user's cancel, once the half line is there (at most ten seconds).
    for (int i = 0; i < 1000 && platform::FileSize(kOutput) <= 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    AbortInstallation(signals_);
  });
  EXPECT_EQ(step.Install(), diagnostics::kInstallationTerminated);
  cancel.join();
  EXPECT_TRUE(boxes_.shown().empty());
  EXPECT_EQ(events_.Ids(), (std::vector<int>{diagnostics::kInstallationTerminated}));
}

TEST_F(MiniServerRunTest, ACancelConfirmedBeforeTheStartStartsNothing) {
  MiniServerStep& step = QueueRun();
  drive_.SetProgram("sleep 2");
  AbortInstallation(signals_);
  EXPECT_EQ(step.Install(), diagnostics::kInstallationTerminated);
  EXPECT_FALSE(drive_.InterpreterStarted());
  EXPECT_EQ(events_.Ids(), (std::vector<int>{diagnostics::kInstallationTerminated}));
}

TEST_F(MiniServerRunTest, WithoutAnInterpreterTheStepFails) {
  EXPECT_EQ(QueueRun().Install(), diagnostics::kMiniServerLaunchFailed);
  EXPECT_EQ(events_.Ids(), (std::vector<int>{diagnostics::kMiniServerLaunchFailed}));
}
#endif  // !_WIN32

#ifdef _WIN32
int CountInterpreters() {
  std::vector<platform::ProcessEntry> entries;
  platform::SnapshotProcesses(&entries);
  int count = 0;
  for (const auto& entry : entries) count += entry.name == "cmd.exe";
  return count;
}

// The fake MiniServer under ".\launcher", run by the real interpreter with /K,
// which stays after the program has ended; the step ends it.
TEST(MiniServerUnderWindows, RunsThroughCmdKAndEndsTheInterpreter) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    GTEST_SKIP() << "cmd /K needs a display under Wine (run under scripts/xvfb.sh)";
  }
  RecordedEvents events;
  test_paths::ScratchFolder scratch;
  const std::string work = scratch.File("Local Settings");
  ASSERT_TRUE(platform::CreateFolder(work));
  ASSERT_TRUE(platform::CreateFolder(scratch.File("launcher")));
  const std::string server = scratch.File("launcher\\miniserver.exe");
  ASSERT_TRUE(test_paths::CopyFixture("fake_miniserver.exe", server));
  ASSERT_TRUE(test_paths::WriteWholeFile(server + ".ms", "600"));
  payload::writeCookieFile(work, "Cat1", "Content_X");
  ASSERT_TRUE(
      test_paths::WriteWholeFile(server + ".cookie", platform::JoinPath(work, "cookie.txt")));
  ScopedCurrentFolder here(scratch.path());
  ASSERT_TRUE(here.ok());
  const bool own_console = RunWithoutConsole();
  const int interpreters_before = CountInterpreters();

  engine::PipelineSignals signals;
  FakeMessageBoxes boxes;
  TestRunContext run(&events, signals, boxes);
  engine::InstallManager manager(run.context());
  manager.AddStep(std::make_unique<MiniServerStep>(nullptr, work));
  MiniServerStep& step = static_cast<MiniServerStep&>(*manager.steps()[0]);
  step.timing.poll_ms = 50;
  step.timing.final_pause_ms = 200;
  FractionLog log(step);

  const auto start = std::chrono::steady_clock::now();
  {
    StepWatchdog watchdog(signals, 30000);
    EXPECT_EQ(step.Install(), 1);
    EXPECT_FALSE(watchdog.fired());
    // The console host that comes with the interpreter's own console is not
    // the MiniServer: counted, it would keep the step waiting for ever.
    if (own_console) {
      EXPECT_TRUE(watchdog.sawConsoleHost());
    }
  }
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  std::printf("[          ] the MiniServer step took %d ms\n", static_cast<int>(took.count()));

  EXPECT_EQ(CountInterpreters(), interpreters_before);  // the step ended its interpreter
  EXPECT_EQ(step.output.trackedPercent, 100);
  EXPECT_EQ(log.values().back(), 1.0);
  std::string output;
  ASSERT_TRUE(test_paths::ReadWholeFile(platform::JoinPath(work, "MiniServerOutput.txt"), &output));
  EXPECT_NE(output.find("args: \".\\launcher\\miniserver.exe\" -ld c"), std::string::npos)
      << output;
  EXPECT_NE(output.find("cookie: Content=Content_X\r\n"), std::string::npos) << output;
  EXPECT_TRUE(boxes.shown().empty());
  EXPECT_TRUE(events.Ids().empty());
}
#endif  // _WIN32

}  // namespace

}  // namespace components
