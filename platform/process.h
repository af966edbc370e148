// Child processes and the process list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// What ExitCode gives for a process that has not ended (Windows' STILL_ACTIVE).
constexpr int kStillActive = 259;

class Process {
 public:
  struct Native;
  // Starts a command line without a window (win32: CreateProcessA with no
  // application name and CREATE_NO_WINDOW; posix: /bin/sh -c <command line>).
  // Null on failure, with the error code (a Windows system error code).
  static std::unique_ptr<Process> Start(const std::string& command_line, uint32_t* error);
  // Starts `application` with `command_line` as its whole command line and a
  // hidden window (win32: CreateProcessA(application, command_line) with
  // CREATE_DEFAULT_ERROR_MODE and SW_HIDE). On posix the application path is
  // translated and run as /bin/sh -c "'<application>'<command_line>", so the
  // command line must begin with a blank and holds only the arguments, not
  // the program's own name as it does on Windows.
  static std::unique_ptr<Process> StartHidden(const std::string& application,
                                              const std::string& command_line, uint32_t* error);
  // Leaves a running process running.
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  uint32_t id() const;
  // When the process was created (see ProcessCreationTime); 0 when unknown.
  uint64_t creation_time() const;
  // True once the process has ended; waits up to timeout_ms for that
  // (kWaitForever of platform/sync.h: no limit). False, with the system's
  // error code in `error` when given, also when the wait itself failed.
  bool WaitForExit(uint32_t timeout_ms, uint32_t* error = nullptr);
  // The exit code of an ended process, kStillActive before it ends.
  int ExitCode();
  // Ends the process at once; it exits with `exit_code`. False when it could
  // not be ended (it may have ended already).
  bool Terminate(uint32_t exit_code);

 private:
  explicit Process(Native* native);
  std::unique_ptr<Native> native_;
};

struct ProcessEntry {
  uint32_t id = 0;
  uint32_t parent_id = 0;
  std::string name;  // the executable's file name (posix: the first 15 bytes of it)
};

// Every running process (ended ones are not listed). False when the list
// cannot be read.
bool SnapshotProcesses(std::vector<ProcessEntry>* entries);

// When a running process was created, in the system's own units (win32:
// FILETIME, 100 ns; posix: clock ticks since boot), comparable only with one
// another. False when the process is gone or cannot be asked, and while it is
// still being made (Wine knows the time only once the process has started).
bool ProcessCreationTime(uint32_t id, uint64_t* time);

}  // namespace platform
