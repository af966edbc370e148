#include "engine/process_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/error_texts.h"
#include "diagnostics/event_catalog.h"
#include "engine/install_manager.h"
#include "platform/ascii.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/fake_message_boxes.h"
#include "tests/process_test_support.h"
#include "tests/recorded_events.h"
#include "tests/recording_progress_view.h"
#include "tests/run_context.h"
#include "tests/test_paths.h"
#include "ui/progress_flow.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace engine {

namespace {

using process_tests::Clock;
using process_tests::MillisecondsSince;
using process_tests::OwnId;

#ifdef _WIN32
// tests/fixtures/exit_with.c, built beside the test binary.
const char kChildName[] = "exit_with.exe";

std::string ExitCommand(uint32_t code, uint32_t delay_ms = 0) {
  std::string self = platform::ExecutablePath();
  return "\"" + self.substr(0, self.find_last_of('\\') + 1) + "exit_with.exe\" " +
         std::to_string(code) + " " + std::to_string(delay_ms);
}

std::string LongRunningCommand() { return ExitCommand(0, 30000); }
#else
const char kChildName[] = "sleep";

// Exit codes reach a posix parent cut to 8 bits, so only codes below 256 can
// be tried here; 3010 and 1603 are tried under Wine.
std::string ExitCommand(uint32_t code, uint32_t delay_ms = 0) {
  std::string command = "exit " + std::to_string(code);
  if (delay_ms) command = "sleep " + std::to_string(delay_ms / 1000.0) + "; " + command;
  return command;
}

// The shell becomes the sleeping program, which the test can then find and end.
std::string LongRunningCommand() { return "exec sleep 30"; }
#endif

// Ends the children that RunInstaller left running when it was abandoned.
void EndLeftChildren() {
  std::vector<platform::ProcessEntry> entries;
  ASSERT_TRUE(platform::SnapshotProcesses(&entries));
  for (const platform::ProcessEntry& entry : entries) {
    if (entry.parent_id != OwnId() || entry.name != kChildName) continue;
#ifdef _WIN32
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.id);
    ASSERT_NE(nullptr, process);
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
#else
    kill(static_cast<pid_t>(entry.id), SIGKILL);
    waitpid(static_cast<pid_t>(entry.id), nullptr, 0);
#endif
  }
}

class ProcessRunnerTest : public testing::Test {
 protected:
  InstallStep& AddStep(const std::string& commandLine, int expected_seconds = 200) {
    StepPlan plan;
    plan.commandLine = commandLine;
    plan.expectedInstallSeconds = expected_seconds;
    return Queued(manager_, plan);
  }

  test_paths::ScratchFolder folder_;
  RecordedEvents events_;
  PipelineSignals signals_;
  FakeMessageBoxes boxes_;
  TestRunContext run_{&events_, signals_, boxes_};
  InstallManager manager_{run_.context()};
  RecordingProgressView view_;
};

TEST_F(ProcessRunnerTest, SuccessCodesReleaseInstallDone) {
  std::vector<uint32_t> codes = {0};
#ifdef _WIN32
  codes.push_back(3010);  // success, restart required
#endif
  for (uint32_t code : codes) {
    InstallStep& step = AddStep(ExitCommand(code));
    EXPECT_EQ(1, step.Install()) << code;
    EXPECT_TRUE(step.progress().installDone.Wait(0)) << code;
    EXPECT_EQ(3, step.progress().phase.load());
    EXPECT_EQ(1.0, step.progress().installFraction.load());
  }
  EXPECT_TRUE(boxes_.shown().empty());
  EXPECT_TRUE(events_.Ids().empty());
}

TEST_F(ProcessRunnerTest, InstallFractionGrowsWithTimeWhileTheInstallerRuns) {
  signals_.progressWindow = &view_;
  InstallStep& step = AddStep(ExitCommand(0, 2500), 4);
  ASSERT_EQ(1, step.Install());
  // One step weighs 1 + 1, so a quarter of the install shows as 12 percent.
  const std::vector<int> percents = view_.percents();
  ASSERT_GE(percents.size(), 2u);
  const int first = percents.front();
  EXPECT_GT(first, 0);
  EXPECT_LT(first, 50);
  EXPECT_EQ(50, percents.back());
  EXPECT_EQ("50% Complete", ui::PercentText(percents.back()));
}

TEST_F(ProcessRunnerTest, FailureCodeIsReturnedPostedAndShown) {
  struct Case {
    uint32_t code;
    const char* text;
  };
  std::vector<Case> cases = {
      {87, "INSTALLATION ERROR: ERROR 87: One of the parameters was invalid."}};
#ifdef _WIN32
  cases.push_back(
      {1603, "INSTALLATION ERROR: ERROR 1603: A fatal error occurred during installation."});
#endif
  for (const Case& c : cases) {
    InstallStep& step = AddStep(ExitCommand(c.code));
    EXPECT_EQ(static_cast<int>(c.code), step.Install());
    EXPECT_FALSE(step.progress().installDone.Wait(0));
    EXPECT_EQ(2, step.progress().phase.load());
  }
  const std::vector<FakeMessageBoxes::Shown> shown = boxes_.shown();
  ASSERT_EQ(cases.size(), shown.size());
  const std::string log = events_.LogText();
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_NE(std::string::npos,
              log.find("EVENTID='9060',DESC='" + std::string(cases[i].text) + "'"))
        << log;
    EXPECT_EQ(diagnostics::SupportMessage(static_cast<int>(cases[i].code)), shown[i].text);
    EXPECT_NE(std::string::npos,
              shown[i].text.find("<Error Code: " + std::to_string(cases[i].code) + ">"));
    EXPECT_EQ("Installation Error", shown[i].title);
    EXPECT_EQ(platform::kMessageOk, shown[i].style);
  }
}

TEST_F(ProcessRunnerTest, ExitCodeOneIsAFailureNotSuccess) {
  InstallStep& step = AddStep(ExitCommand(1));
  EXPECT_EQ(diagnostics::kInstallationError, step.Install());
  EXPECT_FALSE(step.progress().installDone.Wait(0));
  EXPECT_EQ(1u, boxes_.shown().size());
  EXPECT_EQ((std::vector<int>{diagnostics::kInstallationError}), events_.Ids());
}

TEST_F(ProcessRunnerTest, MissingProgramFailsWithoutAMessage) {
  InstallStep& step = AddStep("\"" + folder_.File("setup.exe") + "\" /q");
  EXPECT_EQ(diagnostics::kInstallationError, step.Install());
  EXPECT_FALSE(step.progress().installDone.Wait(0));
  EXPECT_TRUE(boxes_.shown().empty());
  EXPECT_EQ((std::vector<int>{diagnostics::kInstallationError}), events_.Ids());
}

TEST_F(ProcessRunnerTest, AbortWhileWaitingReturnsWithinASecondAndLeavesTheInstallerRunning) {
  InstallStep& step = AddStep(LongRunningCommand());
  Clock::time_point aborted;
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    aborted = Clock::now();
    AbortInstallation(signals_);
  });
  const int result = step.Install();
  canceller.join();
  const long long late = MillisecondsSince(aborted);
  EXPECT_EQ(diagnostics::kInstallationTerminated, result);
  EXPECT_LT(late, 3000);
  EXPECT_TRUE(IsProcessRunning(OwnId(), true, nullptr));
  EXPECT_FALSE(step.progress().installDone.Wait(0));
  EXPECT_TRUE(boxes_.shown().empty());
  EXPECT_EQ((std::vector<int>{diagnostics::kInstallationTerminated}), events_.Ids());
  EndLeftChildren();
}

TEST_F(ProcessRunnerTest, AbortBeforeTheStartRunsNothing) {
  AbortInstallation(signals_);
#ifdef _WIN32
  InstallStep& step = AddStep(ExitCommand(0));
#else
  const std::string marker = folder_.File("ran");
  InstallStep& step = AddStep("touch '" + marker + "'");
#endif
  EXPECT_EQ(diagnostics::kInstallationTerminated, step.Install());
  EXPECT_EQ(2, step.progress().phase.load());
  EXPECT_FALSE(step.progress().installDone.Wait(0));
#ifndef _WIN32
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(platform::PathExists(marker));
#endif
  EXPECT_EQ((std::vector<int>{diagnostics::kInstallationTerminated}), events_.Ids());
}

TEST(IsProcessRunningTest, FindsProcessesByIdAndByParent) {
  EXPECT_TRUE(IsProcessRunning(OwnId(), false));
  uint32_t error = 0;
  std::unique_ptr<platform::Process> child = platform::Process::Start(LongRunningCommand(), &error);
  ASSERT_TRUE(child) << error;
  // Give the posix shell time to become the sleeping program.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(IsProcessRunning(child->id(), false));
  // Wine gives a console child its own conhost.exe, which is not ours to count.
  EXPECT_FALSE(IsProcessRunning(child->id(), true, "conhost.exe"));
  EXPECT_TRUE(IsProcessRunning(OwnId(), true));
  const std::string upper = platform::AsciiUpper(kChildName);
  EXPECT_FALSE(IsProcessRunning(OwnId(), true, upper.c_str()));
  EXPECT_TRUE(IsProcessRunning(OwnId(), true, "other.exe"));

  ASSERT_TRUE(child->Terminate(1));
  ASSERT_TRUE(child->WaitForExit(5000));
  EXPECT_FALSE(IsProcessRunning(child->id(), false));
  EXPECT_FALSE(IsProcessRunning(OwnId(), true));
}

}  // namespace

}  // namespace engine
