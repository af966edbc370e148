#include "components/agent_launcher_step.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/error_texts.h"
#include "diagnostics/event_catalog.h"
#include "engine/install_manager.h"
#include "engine/process_runner.h"
#include "payload/cookie_file.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/fake_message_boxes.h"
#include "tests/fake_registry.h"
#include "tests/fixture_paths.h"
#include "tests/launcher_harness.h"
#include "tests/recorded_events.h"
#include "tests/run_context.h"
#include "tests/test_paths.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>

#include <filesystem>

#include "platform/posix/native_path.h"
#endif

namespace components {

namespace {

using platform::RegistryRoot;

const std::vector<std::string> kDependencies = {"A", "B"};
const char kAgentId[] = "763FFD6B-A198-4866-A687-FB9E5BC14769";

// The id of the first child of `parent` (named `name`, when given) once it
// has one; 0 after five seconds. Under Wine a console host comes first, and a
// process just made may not show its own name yet.
uint32_t WaitForChildOf(uint32_t parent, const char* name = nullptr) {
  for (int round = 0; round < 500; ++round) {
    std::vector<platform::ProcessEntry> entries;
    if (platform::SnapshotProcesses(&entries)) {
      for (const auto& entry : entries) {
        if (entry.parent_id == parent && (!name || entry.name == name)) return entry.id;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}

// Wine tells a process's creation time only once the process has started.
bool WaitForCreationTime(uint32_t id, uint64_t* created) {
  for (int round = 0; round < 500; ++round) {
    if (platform::ProcessCreationTime(id, created)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// A command line whose process starts one child, kChildName, that runs for a while.
#ifdef _WIN32
constexpr char kChildName[] = "exit_with.exe";
#else
constexpr char kChildName[] = "sleep";
#endif
std::string ParentOfOneChild() {
#ifdef _WIN32
  const std::string self = platform::ExecutablePath();
  return "\"" + platform::JoinPath(platform::SystemFolder(), "cmd.exe") + "\" /C \"\"" +
         self.substr(0, self.find_last_of('\\') + 1) + "exit_with.exe\" 0 10000\"";
#else
  return "sleep 10; :";  // "; :" keeps the shell as the parent
#endif
}

void EndProcess(uint32_t id) {
#ifdef _WIN32
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id);
  if (process) {
    TerminateProcess(process, 0);
    CloseHandle(process);
  }
#else
  kill(static_cast<pid_t>(id), SIGKILL);
#endif
}

class AgentLauncherTest : public testing::Test {
 protected:
  // A launcher step queued in the test's manager.
  AgentLauncherStep& Queue(const std::string& deskId, const std::string& deskInstall,
                           const std::string& contentId,
                           const std::string& outputFolder = "C:\\Out") {
    manager_.AddStep(std::make_unique<AgentLauncherStep>("CLIENT LICENCE", deskId, deskInstall,
                                                         contentId, outputFolder, kDependencies));
    return static_cast<AgentLauncherStep&>(*manager_.steps().back());
  }

  FakeRegistry registry_;
  RecordedEvents events_{&registry_};  // the agent id of 7003 comes from registry_
  test_paths::ScratchFolder folder_;
  engine::PipelineSignals signals_;
  FakeMessageBoxes boxes_;
  TestRunContext run_{&events_, signals_, boxes_, &registry_};
  engine::InstallManager manager_{run_.context()};
};

TEST_F(AgentLauncherTest, DeskInstallationPassesTheDeskAndTracksIt) {
  for (const char* deskInstall : {"1", ""}) {  // an absent DESKINSTALL means desk installation
    AgentLauncherStep& step = Queue("Parlor", deskInstall, "\"Parlor_X\"");
    EXPECT_TRUE(step.deskInstall);
    EXPECT_EQ(step.BuildLauncherArguments(), " -w A -w B  -q -i Parlor -s Parlor -i \"Parlor_X\"");
    EXPECT_EQ(step.tracked_name, "Parlor");
    EXPECT_EQ(step.trackedWeight, 0.0);
    EXPECT_EQ(step.componentWeight, 1.0);
    EXPECT_EQ(step.ComputeLaunchProgress(), 0.0);
  }
}

TEST_F(AgentLauncherTest, WithoutDeskInstallationTheContentIsTrackedUnquoted) {
  AgentLauncherStep& step = Queue("Parlor", "0", "\"Parlor_X\"");
  EXPECT_FALSE(step.deskInstall);
  EXPECT_EQ(step.BuildLauncherArguments(),
            " -w A -w B  -q -i \"Parlor_X\"  -w \"Parlor_X\"  -s \"Parlor_X\"");
  EXPECT_EQ(step.tracked_name, "Parlor_X");
  EXPECT_EQ(step.trackedWeight, 0.5);
  EXPECT_EQ(step.componentWeight, 0.5);
  EXPECT_DOUBLE_EQ(step.ComputeLaunchProgress(), 0.30);  // the desk share counts as done

  manager_.AddStep(std::make_unique<AgentLauncherStep>(nullptr, "D", "1", "C", "C:\\Out",
                                                       std::vector<std::string>()));
  EXPECT_EQ(static_cast<AgentLauncherStep&>(*manager_.steps().back()).BuildLauncherArguments(),
            "  -q -i D -s D -i C");
}

TEST_F(AgentLauncherTest, QueuedAsTheGatedLastStepWithTheClientLicence) {
  AgentLauncherStep& step = Queue("Parlor", "1", "Parlor_X");
  EXPECT_EQ(manager_.EulaText(), "CLIENT LICENCE");
  EXPECT_EQ(step.plan().waitLevel, 1);
  EXPECT_EQ(step.plan().selfReportedProgress, 1);
  EXPECT_EQ(step.plan().downloadWeight, 0.0);
  EXPECT_EQ(step.plan().installWeight, 1.0);
  EXPECT_EQ(step.plan().requiredMegabytes, 0);
  EXPECT_EQ(step.Download(), 1);  // nothing to fetch
  EXPECT_TRUE(step.progress().downloadDone.Wait(0));
  EXPECT_TRUE(events_.Ids().empty());
  // What the product waits, before any test shortens it.
  EXPECT_EQ(step.timing.poll_ms, 250u);
  EXPECT_EQ(step.timing.start_checks, 60);
  EXPECT_EQ(step.timing.idle_timeout_polls, 1200);
}

TEST_F(AgentLauncherTest, BadDeskOrContentParametersFailBeforeAnythingIsRead) {
  EXPECT_EQ(Queue("", "1", "Parlor_X").Install(), diagnostics::kAgentLaunchParametersInvalid);
  EXPECT_EQ(Queue("", "0", "Parlor_X").Install(), diagnostics::kAgentLaunchParametersInvalid);
  AgentLauncherStep& quotes = Queue("Parlor", "1", "\"\"");
  EXPECT_EQ(quotes.Install(), diagnostics::kAgentLaunchParametersInvalid);
  EXPECT_EQ(quotes.progress().phase.load(), 2);
  EXPECT_EQ(registry_.read_count(), 0);
  // An empty content id passes; without the agent's folder the step stops there.
  EXPECT_EQ(Queue("Parlor", "1", "").Install(), diagnostics::kAgentFolderNotFound);
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{
                diagnostics::kAgentLaunchStarted, diagnostics::kAgentLaunchParametersInvalid,
                diagnostics::kAgentLaunchStarted, diagnostics::kAgentLaunchParametersInvalid,
                diagnostics::kAgentLaunchStarted, diagnostics::kAgentLaunchParametersInvalid,
                diagnostics::kAgentLaunchStarted, diagnostics::kAgentFolderNotFound}));
}

TEST_F(AgentLauncherTest, TheAgentFolderComesFromTheUserKeyThenTheMachineKey) {
  AgentLauncherStep& step = Queue("Parlor", "1", "Parlor_X");
  EXPECT_EQ(step.ReadRuntimePath(), "");
  registry_.SetString(RegistryRoot::kLocalMachine, "SOFTWARE\\Ostrand", "RuntimePath",
                      "C:\\Machine\\");
  EXPECT_EQ(step.ReadRuntimePath(), "C:\\Machine\\");
  registry_.SetString(RegistryRoot::kCurrentUser, "SOFTWARE\\Torvane", "RuntimeGuid", "x");
  EXPECT_EQ(step.ReadRuntimePath(), "C:\\Machine\\");  // the user key without the value
  registry_.SetString(RegistryRoot::kCurrentUser, "SOFTWARE\\Torvane", "RuntimePath", "C:\\User\\");
  EXPECT_EQ(step.ReadRuntimePath(), "C:\\User\\");
  // Neither key at the other's root counts.
  FakeRegistry swapped;
  swapped.SetString(RegistryRoot::kCurrentUser, "SOFTWARE\\Ostrand", "RuntimePath", "C:\\A\\");
  swapped.SetString(RegistryRoot::kLocalMachine, "SOFTWARE\\Torvane", "RuntimePath", "C:\\B\\");
  AgentLauncherStep other(nullptr, "Parlor", "1", "Parlor_X", "C:\\Out", kDependencies);
  TestRunContext swapped_run(&events_, signals_, boxes_, &swapped);
  other.Attach(swapped_run.context(), nullptr);
  EXPECT_EQ(other.ReadRuntimePath(), "");
}

TEST_F(AgentLauncherTest, AFolderWithoutALauncherFails) {
  ASSERT_TRUE(test_paths::WriteWholeFile(folder_.File("readme.txt"), "x"));
  ASSERT_TRUE(platform::CreateFolder(folder_.File("FolderAgentLauncher.exe")));
  registry_.SetString(RegistryRoot::kCurrentUser, "SOFTWARE\\Torvane", "RuntimePath",
                      folder_.path() + "\\");
  EXPECT_EQ(Queue("Parlor", "1", "Parlor_X").Install(), diagnostics::kAgentLauncherNotFound);
  EXPECT_EQ(events_.Ids(), (std::vector<int>{diagnostics::kAgentLaunchStarted,
                                             diagnostics::kAgentLauncherNotFound}));
}

TEST_F(AgentLauncherTest, FindAgentLauncherJoinsWithOneBackslash) {
  EXPECT_EQ(FindAgentLauncher(folder_.path()), "");
  ASSERT_TRUE(test_paths::WriteWholeFile(folder_.File("readme.txt"), "x"));
  ASSERT_TRUE(test_paths::WriteWholeFile(folder_.File("TestAgentLauncher.exe"), "x"));
  const std::string expected = folder_.path() + "\\TestAgentLauncher.exe";
  EXPECT_EQ(FindAgentLauncher(folder_.path()), expected);
  EXPECT_EQ(FindAgentLauncher(folder_.path() + "\\"),
            expected);  // as the agent's installer writes it
  EXPECT_EQ(FindAgentLauncher(folder_.File("missing")), "");
}

TEST_F(AgentLauncherTest, TheLauncherNameIsMatchedWithoutCase) {
  ASSERT_TRUE(test_paths::WriteWholeFile(folder_.File("TESTAGENTLAUNCHER.EXE"), "x"));
  EXPECT_EQ(FindAgentLauncher(folder_.path() + "\\"), folder_.path() + "\\TESTAGENTLAUNCHER.EXE");
}

#ifndef _WIN32
// The watch loop on the host: the interpreter is a script on a drive of the
// test's own, playing the launcher by appending to the output file.
class LauncherRunTest : public AgentLauncherTest {
 protected:
  static constexpr const char* kAgentFolder = "C:\\Program Files\\Torvane\\Agent\\";
  static constexpr const char* kOutput =
      "C:\\Documents and Settings\\Tester\\Local "
      "Settings\\Temp\\TorvaneInstaller\\BrindleAgentLauncherOutput.txt";

  void SetUp() override {
    registry_.SetString(RegistryRoot::kCurrentUser, "SOFTWARE\\Torvane", "RuntimePath",
                        kAgentFolder);
    registry_.SetString(RegistryRoot::kCurrentUser, "SOFTWARE\\Torvane", "RuntimeGuid", kAgentId);
    ASSERT_TRUE(drive_.MakeEmptyFile(std::string(kAgentFolder) + "TestAgentLauncher.exe"));
    ASSERT_TRUE(drive_.MakeEmptyFile(kOutput));
  }
  AgentLauncherStep& QueueRun(const std::string& deskInstall, int idle_timeout_polls = 1200) {
    AgentLauncherStep& step = Queue("Parlor", deskInstall, "\"Parlor_X\"", kTesterWorkFolder);
    step.timing.poll_ms = 2;
    step.timing.idle_timeout_polls = idle_timeout_polls;
    return step;
  }
  // Shell text that appends launcher lines to the output file.
  std::string Append(const std::string& lines) const { return drive_.AppendLines(kOutput, lines); }
  // The same lines as text.
  static std::string Lines(const std::string& quoted_lines) {
    std::string text;
    for (size_t start = 0; (start = quoted_lines.find('\'', start)) != std::string::npos;) {
      const size_t end = quoted_lines.find('\'', start + 1);
      text += quoted_lines.substr(start + 1, end - start - 1) + "\n";
      start = end + 1;
    }
    return text;
  }
  static std::string Progress(const std::string& app, int percent) {
    return "'<DownloadProgress AppName=\"" + app + "\" Percent=\"" + std::to_string(percent) +
           "\" />'";
  }
  static std::string Round(int desk, int percent) {
    return Progress("Torvane.Services.Agent.WebServices", percent) + " " +
           Progress("Torvane.Ads.AgentAdEngine", percent) + " " + Progress("Parlor", desk);
  }

  FakeInterpreterDrive drive_;
};

TEST_F(LauncherRunTest, TheOutputDrivesTheBarUntilTheLauncherEnds) {
  AgentLauncherStep& step = QueueRun("1");
  std::string body;
  for (int percent : {25, 50, 75, 100}) body += Append(Round(percent, percent)) + "\nsleep 0.05\n";
  drive_.SetProgram(body);
  FractionLog log(step);

  EXPECT_EQ(step.Install(), 1);
  EXPECT_TRUE(step.progress().installDone.Wait(0));
  EXPECT_EQ(drive_.CommandLineSeen(),
            " /C \"\"C:\\Program Files\\Torvane\\Agent\\TestAgentLauncher.exe\"  -w A -w B  -q -i "
            "Parlor -s Parlor -i \"Parlor_X\" -ld c > \"" +
                std::string(kOutput) + "\"\"");
  const std::vector<double> fractions = log.values();
  ASSERT_GE(fractions.size(), 5u);
  EXPECT_EQ(fractions.front(), 0.0);  // the phase change
  for (size_t i = 1; i < fractions.size(); ++i) EXPECT_GT(fractions[i], fractions[i - 1]);
  EXPECT_DOUBLE_EQ(fractions.back(), 1.0);
  EXPECT_EQ(step.output.deskPercent, 100);
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{diagnostics::kAgentLaunchStarted, diagnostics::kAgentLaunched}));
  EXPECT_NE(events_.LogText().find(std::string("AGENT='") + kAgentId + "'"), std::string::npos);
}

TEST_F(LauncherRunTest, ASilentLauncherCreepsUpFifteenHundredthsThenTimesOut) {
  AgentLauncherStep& step = QueueRun("0", 150);
  drive_.SetProgram("while :; do sleep 0.05; done");
  FractionLog log(step);
  const auto start = std::chrono::steady_clock::now();

  EXPECT_EQ(step.Install(), diagnostics::kAgentLaunchTimedOut);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150 * 2));
  // 0, then the desk share (0.30), then one hundredth every third quiet poll, 15 times.
  const std::vector<double> fractions = log.values();
  ASSERT_EQ(fractions.size(), 17u);
  EXPECT_EQ(fractions[0], 0.0);
  for (size_t i = 1; i < fractions.size(); ++i) {
    EXPECT_NEAR(fractions[i], 0.29 + 0.01 * static_cast<double>(i), 1e-9) << i;
  }
  const auto shown = boxes_.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "Installation Error");
  EXPECT_THAT(shown[0].text, testing::EndsWith("<Error Code: 7004>"));
  EXPECT_FALSE(step.progress().installDone.Wait(0));
  EXPECT_EQ(events_.Ids(), (std::vector<int>{diagnostics::kAgentLaunchStarted,
                                             diagnostics::kAgentLaunchTimedOut}));
}

TEST_F(LauncherRunTest, NearTheEndASilentLauncherIsWaitedForWithoutLimit) {
  AgentLauncherStep& step = QueueRun("1", 40);
  // 0.1 + 0.6 x 0.95 + 0.3 = 0.97 from the first poll on, then silence far
  // longer than 40 polls.
  ASSERT_TRUE(drive_.WriteFile(kOutput, Lines(Round(95, 100))));
  drive_.SetProgram("sleep 1");
  FractionLog log(step);
  EXPECT_EQ(step.Install(), 1);
  EXPECT_NEAR(log.values().back(), 0.97, 1e-9);
  EXPECT_TRUE(boxes_.shown().empty());
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{diagnostics::kAgentLaunchStarted, diagnostics::kAgentLaunched}));
}

TEST_F(LauncherRunTest, AnErrorLineAbandonsTheInstallationAndLeavesTheLauncherRunning) {
  AgentLauncherStep& step = QueueRun("1");
  drive_.SetProgram(Append(Round(25, 25) + " '<Error Msg=\"Disk full\" Code=\"112\" />'") +
                    "\nwhile :; do sleep 0.05; done");
  EXPECT_EQ(step.Install(), diagnostics::kAgentLaunchCancelled);
  EXPECT_EQ(signals_.abortFlag.load(), 1);
  EXPECT_EQ(diagnostics::LastErrorText(), "INSTALLATION ERROR: Disk full");
  const auto shown = boxes_.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "Installation Error");
  EXPECT_THAT(shown[0].text, testing::EndsWith("<Error Code: 112>"));
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{diagnostics::kAgentLaunchStarted, diagnostics::kInstallationError,
                              diagnostics::kAgentLaunchCancelled}));
}

// The launcher writes its Error line after the step's last poll and ends:
// the read after its end still reports it, with or without its line end.
TEST_F(LauncherRunTest, AnErrorWrittenJustBeforeTheEndIsReported) {
  for (const char* format : {"%s\\n", "%s"}) {
    SCOPED_TRACE(format);
    RecordedEvents events(&registry_);
    engine::PipelineSignals signals;
    FakeMessageBoxes boxes;
    TestRunContext run(&events, signals, boxes, &registry_);
    engine::InstallManager manager(run.context());
    manager.AddStep(std::make_unique<AgentLauncherStep>(nullptr, "Parlor", "1", "\"Parlor_X\"",
                                                        kTesterWorkFolder, kDependencies));
    AgentLauncherStep& step = static_cast<AgentLauncherStep&>(*manager.steps()[0]);
    // One poll at most before the line comes, the next only after the end.
    step.timing.poll_ms = 1000;
    step.timing.start_checks = 1;
    drive_.SetProgram(std::string("sleep 0.2; printf '") + format +
                      "' '<Error Msg=\"Disk full\" Code=\"112\" />' >> " +
                      drive_.ShellQuoted(kOutput));
    EXPECT_EQ(step.Install(), diagnostics::kAgentLaunchCancelled);
    EXPECT_FALSE(step.progress().installDone.Wait(0));
    EXPECT_EQ(signals.abortFlag.load(), 1);
    EXPECT_EQ(diagnostics::LastErrorText(), "INSTALLATION ERROR: Disk full");
    const auto shown = boxes.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_THAT(shown[0].text, testing::EndsWith("<Error Code: 112>"));
    EXPECT_EQ(events.Ids(),
              (std::vector<int>{diagnostics::kAgentLaunchStarted, diagnostics::kInstallationError,
                                diagnostics::kAgentLaunchCancelled}));
    ASSERT_TRUE(drive_.WriteFile(kOutput, ""));
  }
}

// The person confirms the cancel while the step reads the last lines of a
// launcher that has ended on its own: the game was launched all the same.
TEST_F(LauncherRunTest, ACancelAfterTheLauncherEndedComesTooLate) {
  AgentLauncherStep& step = QueueRun("1");
  step.timing.poll_ms = 1000;  // the lines come and the launcher ends between two polls
  step.timing.start_checks = 1;
  drive_.SetProgram("sleep 0.2\n" + Append(Round(100, 100)));
  step.progress().ReplaceListener([&] {
    if (step.progress().installFraction.load() >= 1.0) AbortInstallation(signals_);
  });
  EXPECT_EQ(step.Install(), 1);
  EXPECT_EQ(signals_.abortFlag.load(), 1);
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{diagnostics::kAgentLaunchStarted, diagnostics::kAgentLaunched}));
}

TEST_F(LauncherRunTest, ACancelConfirmedBeforeTheStartStartsNothing) {
  AgentLauncherStep& step = QueueRun("1");
  drive_.SetProgram("sleep 2");
  AbortInstallation(signals_);
  EXPECT_EQ(step.Install(), diagnostics::kAgentLaunchCancelled);
  EXPECT_FALSE(drive_.InterpreterStarted());
  EXPECT_EQ(events_.Ids(), (std::vector<int>{diagnostics::kAgentLaunchStarted,
                                             diagnostics::kAgentLaunchCancelled}));
}

TEST_F(LauncherRunTest, WithoutAnInterpreterTheLaunchFails) {
  EXPECT_EQ(QueueRun("1").Install(), diagnostics::kAgentLaunchFailed);
  EXPECT_EQ(events_.Ids(),
            (std::vector<int>{diagnostics::kAgentLaunchStarted, diagnostics::kAgentLaunchFailed}));
}

// A console host started beside the launcher outlives it; counting it would
// keep the step waiting for ever.
TEST(IsChildRunningTest, AConsoleHostIsNotCountedAsTheLauncher) {
  test_paths::ScratchFolder scratch;
  std::vector<std::string> names = {"conhost.exe", "CONHOST.EXE", "TestAgentLauncher.exe"};
  for (const std::string& name : names) {
    std::filesystem::copy_file("/bin/sleep", platform::NativePath(scratch.File(name)));
  }
  std::vector<std::unique_ptr<platform::Process>> parents;
  std::vector<uint32_t> children;
  for (const std::string& name : names) {
    uint32_t error = 0;
    // "; :" keeps the shell as the parent rather than replaced by the program.
    parents.push_back(platform::Process::Start(
        "'" + platform::NativePath(scratch.File(name)) + "' 5; :", &error));
    ASSERT_TRUE(parents.back());
    children.push_back(WaitForChildOf(parents.back()->id()));
    ASSERT_NE(children.back(), 0u);
  }
  EXPECT_FALSE(IsChildRunning(*parents[0]));
  EXPECT_FALSE(IsChildRunning(*parents[1]));
  EXPECT_TRUE(engine::IsProcessRunning(parents[0]->id(), true));  // there, only not counted
  EXPECT_TRUE(IsChildRunning(*parents[2]));
  for (uint32_t child : children) kill(static_cast<pid_t>(child), SIGKILL);
  for (const auto& parent : parents) EXPECT_TRUE(parent->WaitForExit(5000));
}
#endif  // !_WIN32

// Ids are reused: a process whose parent has ended keeps naming that id as
// its parent, and the id may be given to the next interpreter. Such a
// process is older than the interpreter and must not count as its program.
TEST(IsChildRunningTest, AChildOlderThanTheInterpreterIsNotCounted) {
  uint32_t error = 0;
  std::unique_ptr<platform::Process> parent = platform::Process::Start(ParentOfOneChild(), &error);
  ASSERT_TRUE(parent) << error;
  const uint32_t child = WaitForChildOf(parent->id(), kChildName);
  ASSERT_NE(child, 0u);
  uint64_t child_created = 0;
  ASSERT_TRUE(WaitForCreationTime(child, &child_created));
  ASSERT_NE(parent->creation_time(), 0u);
  EXPECT_GE(child_created, parent->creation_time());

  EXPECT_TRUE(IsChildRunning(*parent));
  EXPECT_TRUE(IsChildRunning(parent->id(), child_created));  // made in the same instant
  // The same id, owned by an interpreter made after the child.
  EXPECT_FALSE(IsChildRunning(parent->id(), child_created + 1));
  EXPECT_TRUE(engine::IsProcessRunning(parent->id(), true));  // there, only not counted

  EndProcess(child);
  EXPECT_TRUE(parent->WaitForExit(10000));
}

#ifdef _WIN32
// A string value of HKCU SOFTWARE\Torvane for one test; the earlier value comes back.
class AgentValueOverride {
 public:
  AgentValueOverride(const std::string& name, const std::string& value) : name_(name) {
    RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Torvane", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &key_, nullptr);
    char old[MAX_PATH] = {0};
    DWORD size = sizeof old;
    had_ = RegQueryValueExA(key_, name_.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(old),
                            &size) == ERROR_SUCCESS;
    if (had_) old_ = old;
    Set(value);
  }
  ~AgentValueOverride() {
    if (had_) {
      Set(old_);
    } else {
      RegDeleteValueA(key_, name_.c_str());
    }
    RegCloseKey(key_);
  }

 private:
  void Set(const std::string& value) {
    RegSetValueExA(key_, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  }
  std::string name_;
  HKEY key_ = nullptr;
  bool had_ = false;
  std::string old_;
};

// The test launcher run by the real command interpreter, from a folder with
// blanks, its output redirected into a folder with blanks.
TEST(AgentLauncherUnderWindows, RunsTheTestLauncherThroughTheInterpreter) {
  RecordedEvents events;
  test_paths::ScratchFolder scratch;
  const std::string agent = scratch.File("Program Files");
  const std::string work = scratch.File("Local Settings");
  const std::string startup = scratch.File("Startup Items");
  for (const std::string& folder : {agent, work, startup}) {
    ASSERT_TRUE(platform::CreateFolder(folder));
  }
  const std::string launcher = platform::JoinPath(agent, "TestAgentLauncher.exe");
  ASSERT_TRUE(test_paths::CopyFixture("TestAgentLauncher.exe", launcher));
  payload::writeCookieFile(startup, "Cat1", "Parlor_X");
  ASSERT_TRUE(test_paths::WriteWholeFile(launcher + ".ms", "800"));
  ASSERT_TRUE(
      test_paths::WriteWholeFile(launcher + ".cookie", platform::JoinPath(startup, "cookie.txt")));
  AgentValueOverride runtime_path("RuntimePath", agent + "\\");
  AgentValueOverride agent_id("RuntimeGuid", kAgentId);

  engine::PipelineSignals signals;
  FakeMessageBoxes boxes;
  TestRunContext run(&events, signals, boxes, &platform::SystemRegistry());
  engine::InstallManager manager(run.context());
  manager.AddStep(std::make_unique<AgentLauncherStep>(nullptr, "Parlor", "1", "\"Parlor_X\"", work,
                                                      kDependencies));
  AgentLauncherStep& step = static_cast<AgentLauncherStep&>(*manager.steps()[0]);
  step.timing.poll_ms = 50;
  FractionLog log(step);

  const bool own_console = RunWithoutConsole();
  const char* display = std::getenv("DISPLAY");
  const auto start = std::chrono::steady_clock::now();
  {
    StepWatchdog watchdog(signals, 30000);
    EXPECT_EQ(step.Install(), 1);
    EXPECT_FALSE(watchdog.fired());
    // With a display the interpreter's own console brings a conhost.exe
    // child, which must not count as the launcher.
    if (own_console && display && *display) {
      EXPECT_TRUE(watchdog.sawConsoleHost());
    }
  }
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  std::printf("[          ] the launcher step took %d ms\n", static_cast<int>(took.count()));

  const std::vector<double> fractions = log.values();
  ASSERT_GE(fractions.size(), 3u);
  for (size_t i = 1; i < fractions.size(); ++i) EXPECT_GT(fractions[i], fractions[i - 1]);
  EXPECT_DOUBLE_EQ(fractions.back(), 1.0);
  std::string output;
  ASSERT_TRUE(test_paths::ReadWholeFile(platform::JoinPath(work, "BrindleAgentLauncherOutput.txt"),
                                        &output));
  EXPECT_NE(output.find("args: \"" + launcher +
                        "\"  -w A -w B  -q -i Parlor -s Parlor -i "
                        "\"Parlor_X\" -ld c"),
            std::string::npos)
      << output;
  // The launcher writes its console output in text mode.
  EXPECT_NE(output.find("cookie: Content=Parlor_X\r\n"), std::string::npos) << output;
  EXPECT_NE(output.find("cookie: Catalog=Cat1\r\n"), std::string::npos) << output;
  EXPECT_TRUE(boxes.shown().empty());
  EXPECT_EQ(events.Ids(),
            (std::vector<int>{diagnostics::kAgentLaunchStarted, diagnostics::kAgentLaunched}));
  EXPECT_NE(events.LogText().find(std::string("AGENT='") + kAgentId + "'"), std::string::npos);
}
#endif  // _WIN32

}  // namespace

}  // namespace components
