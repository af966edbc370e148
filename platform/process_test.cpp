#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/sync.h"
#include "tests/process_test_support.h"
#include "tests/test_paths.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/native_path.h"
#endif

namespace platform {
namespace {

using process_tests::Clock;
using process_tests::MillisecondsSince;
using process_tests::OwnId;

#ifdef _WIN32
// tests/fixtures/exit_with.c, built beside the test binary.
std::string ExitWithProgram() {
  std::string self = ExecutablePath();
  return self.substr(0, self.find_last_of('\\') + 1) + "exit_with.exe";
}
#endif

// A command line that exits with `code` after `delay_ms`.
std::string ExitCommand(uint32_t code, uint32_t delay_ms = 0) {
#ifdef _WIN32
  return "\"" + ExitWithProgram() + "\" " + std::to_string(code) + " " + std::to_string(delay_ms);
#else
  std::string command = "exit " + std::to_string(code);
  if (delay_ms) command = "sleep " + std::to_string(delay_ms / 1000.0) + "; " + command;
  return command;
#endif
}

// A child that runs for half a minute unless ended. On posix the shell
// becomes the sleeping program, so ending it leaves no grandchild holding
// the test's output open.
std::string LongRunningCommand() {
#ifdef _WIN32
  return ExitCommand(0, 30000);
#else
  return "exec sleep 30";
#endif
}

const ProcessEntry* FindEntry(const std::vector<ProcessEntry>& entries, uint32_t id) {
  for (const ProcessEntry& entry : entries) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

bool IsListed(uint32_t id) {
  std::vector<ProcessEntry> entries;
  return SnapshotProcesses(&entries) && FindEntry(entries, id) != nullptr;
}

int RunToEnd(const std::string& command_line) {
  uint32_t error = 0;
  std::unique_ptr<Process> process = Process::Start(command_line, &error);
  if (!process) {
    ADD_FAILURE() << "could not start " << command_line << ": error " << error;
    return -1;
  }
  EXPECT_TRUE(process->WaitForExit(kWaitForever));
  return process->ExitCode();
}

TEST(ProcessTest, ExitCodesReachTheCaller) {
  // Installers report "restart required" (3010) and "fatal error" (1603);
  // a posix exit status holds only 8 bits, so there the codes stay small.
#ifdef _WIN32
  const std::vector<uint32_t> codes = {0, 3, 3010, 1603};
#else
  const std::vector<uint32_t> codes = {0, 3, 255};
#endif
  for (uint32_t code : codes) {
    EXPECT_EQ(static_cast<int>(code), RunToEnd(ExitCommand(code))) << code;
  }
}

TEST(ProcessTest, AMissingProgramDoesNotStart) {
#ifdef _WIN32
  const std::string missing = "C:\\no\\such\\installer.exe";
#else
  const std::string missing = "/no/such/installer";
#endif
  uint32_t error = 0;
  EXPECT_EQ(nullptr, Process::Start("\"" + missing + "\" /q", &error));
  EXPECT_TRUE(error == 2 || error == 3) << error;  // file or path not found

  error = 0;
  EXPECT_EQ(nullptr, Process::StartHidden(missing, " /q", &error));
  EXPECT_TRUE(error == 2 || error == 3) << error;
}

TEST(ProcessTest, WaitEndsWhenTheChildEnds) {
  uint32_t error = 0;
  std::unique_ptr<Process> process = Process::Start(ExitCommand(5, 300), &error);
  ASSERT_TRUE(process) << error;
  EXPECT_FALSE(process->WaitForExit(0));
  EXPECT_EQ(kStillActive, process->ExitCode());

  Clock::time_point start = Clock::now();
  EXPECT_TRUE(process->WaitForExit(20000));
  long long waited = MillisecondsSince(start);
  RecordProperty("wait_ms_for_300_ms_child", static_cast<int>(waited));
  // The child sleeps 300 ms; a wait that only polled once a second would
  // take up to a second longer.
  EXPECT_LT(waited, 5000);
  EXPECT_EQ(5, process->ExitCode());
  EXPECT_TRUE(process->WaitForExit(0)) << "an ended process stays ended";
}

TEST(ProcessTest, WaitTimesOutAndTerminateEndsTheChild) {
  uint32_t error = 0;
  std::unique_ptr<Process> process = Process::Start(LongRunningCommand(), &error);
  ASSERT_TRUE(process) << error;
  Clock::time_point start = Clock::now();
  EXPECT_FALSE(process->WaitForExit(100));
  EXPECT_GE(MillisecondsSince(start), 90);

  EXPECT_TRUE(process->Terminate(1602));
  EXPECT_TRUE(process->WaitForExit(10000));
  EXPECT_EQ(1602, process->ExitCode());
  // Ending it again changes nothing (Wine's TerminateProcess even says it
  // succeeded).
  process->Terminate(1);
  EXPECT_EQ(1602, process->ExitCode());
}

TEST(ProcessTest, StartHiddenPassesTheCommandLine) {
#ifdef _WIN32
  // The command line is the whole one the program sees, its own name first.
  const std::string application = ExitWithProgram();
  const std::string command_line = "exit_with.exe 7";
#else
  // A Windows path with a blank, translated at the boundary.
  test_paths::ScratchFolder folder;
  const std::string application = folder.File("run me.sh");
  ASSERT_TRUE(test_paths::WriteWholeFile(application, "#!/bin/sh\nexit $1\n"));
  ASSERT_EQ(0, chmod(NativePath(application).c_str(), 0755));
  const std::string command_line = " 7";
#endif
  uint32_t error = 0;
  std::unique_ptr<Process> process = Process::StartHidden(application, command_line, &error);
  ASSERT_TRUE(process) << error;
  EXPECT_TRUE(process->WaitForExit(20000));
  EXPECT_EQ(7, process->ExitCode());
}

TEST(ProcessTest, SnapshotListsUsAndOurChild) {
  uint32_t error = 0;
  std::unique_ptr<Process> child = Process::Start(LongRunningCommand(), &error);
  ASSERT_TRUE(child) << error;
  std::vector<ProcessEntry> entries;
  ASSERT_TRUE(SnapshotProcesses(&entries));
  const ProcessEntry* self = FindEntry(entries, OwnId());
  ASSERT_NE(nullptr, self);
  EXPECT_NE(std::string::npos, self->name.find("unit_tests")) << self->name;
  const ProcessEntry* listed = FindEntry(entries, child->id());
  ASSERT_NE(nullptr, listed);
  EXPECT_EQ(OwnId(), listed->parent_id);
  child->Terminate(0);
  child->WaitForExit(10000);
}

TEST(ProcessTest, AnEndedChildLeavesTheSnapshotUnwaited) {
  // The launcher steps tell a program's end from the process list alone.
  uint32_t error = 0;
  std::unique_ptr<Process> child = Process::Start(ExitCommand(0, 100), &error);
  ASSERT_TRUE(child) << error;
  const uint32_t id = child->id();
  EXPECT_TRUE(IsListed(id));
  Clock::time_point start = Clock::now();
  while (IsListed(id) && MillisecondsSince(start) < 10000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(IsListed(id)) << "still listed after 10 s";
  EXPECT_TRUE(child->WaitForExit(1000));
}

}  // namespace
}  // namespace platform
