// What the launcher and MiniServer step tests share: a record of the progress
// a step reports, and on posix a command interpreter stand-in.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/install_step.h"
#include "tests/drive_root.h"

// Records the step's installFraction at each NotifyProgress while it lives.
// The step must be queued already (AddStep); the listener it had is set aside meanwhile.
class FractionLog {
 public:
  explicit FractionLog(engine::InstallStep& step);
  ~FractionLog();
  FractionLog(const FractionLog&) = delete;
  FractionLog& operator=(const FractionLog&) = delete;

  std::vector<double> values() const;

 private:
  void Record();

  engine::InstallStep& step_;
  engine::ProgressListener previous_;
  mutable std::mutex mutex_;
  std::vector<double> values_;
};

// Makes a folder (a logic path) the process's current folder while it lives;
// ".\launcher\miniserver.exe" is looked up there.
class ScopedCurrentFolder {
 public:
  explicit ScopedCurrentFolder(const std::string& folder);
  ~ScopedCurrentFolder();
  ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
  ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;
  bool ok() const { return ok_; }

 private:
  std::string old_;
  bool ok_ = false;
};

// Abandons the installation if the watched step has not returned in time, so
// that a step that never sees its program end fails instead of hanging. It
// also notes whether a console host ran under a command interpreter meanwhile.
class StepWatchdog {
 public:
  StepWatchdog(engine::PipelineSignals& signals, int limit_ms);
  ~StepWatchdog();  // stops watching
  StepWatchdog(const StepWatchdog&) = delete;
  StepWatchdog& operator=(const StepWatchdog&) = delete;

  bool fired() const { return fired_.load(); }
  bool sawConsoleHost() const { return sawConsoleHost_.load(); }

 private:
  std::atomic<bool> done_{false};
  std::atomic<bool> fired_{false};
  std::atomic<bool> sawConsoleHost_{false};
  std::thread thread_;
};

#ifdef _WIN32
// The bootstrapper is a GUI program: the interpreter it starts gets a console
// of its own, which under Wine with a display brings a conhost.exe child and
// keeps "cmd /K" waiting for input. The test process leaves its console to be
// started the same way; only when its standard output is not a console (the
// output would be lost otherwise). True when the process has no console now.
bool RunWithoutConsole();
#endif

#ifndef _WIN32
// A drive of its own (KESTREL_DRIVE_ROOT, restored afterwards; also the
// current folder meanwhile) whose C:\WINDOWS\system32\cmd.exe is a shell
// script. The posix StartHidden runs it from /bin/sh -c, so the script can
// read the command line the step built from its parent's command line. It
// then runs `body` itself: the script is the one program the interpreter
// started, the child that IsChildRunning looks for. cmd.exe would create the
// redirected output file before starting the program; the test makes it.
// The test user's temporary folder, where the steps write their output.
constexpr char kTesterWorkFolder[] =
    "C:\\Documents and Settings\\Tester\\Local Settings\\Temp\\TorvaneInstaller";

class FakeInterpreterDrive {
 public:
  FakeInterpreterDrive();
  // Ends a script still running and removes the drive.
  ~FakeInterpreterDrive();
  FakeInterpreterDrive(const FakeInterpreterDrive&) = delete;
  FakeInterpreterDrive& operator=(const FakeInterpreterDrive&) = delete;

  // Installs cmd.exe with this shell text as what it runs.
  void SetProgram(const std::string& body);
  // The native path of a drive path ("C:\..."), and the same quoted for the shell.
  std::string Native(const std::string& drive_path) const;
  std::string ShellQuoted(const std::string& drive_path) const;
  // Creates the folders of a drive path; writes a file there.
  bool MakeFolders(const std::string& drive_path) const;
  bool WriteFile(const std::string& drive_path, const std::string& bytes) const;
  // An empty file at a drive path, its folders made, as the interpreter's
  // redirection would leave it.
  bool MakeEmptyFile(const std::string& drive_path) const;
  // Shell text that appends printf's words (quoted) as lines to a drive file.
  std::string AppendLines(const std::string& drive_path, const std::string& quoted_lines) const;
  // The command line the interpreter was given, without its program path
  // (" /C ..." or " /K ..."); empty when the script has not run.
  std::string CommandLineSeen() const;
  // Whether the interpreter was started: a process of this drive runs, or
  // one has run its script. Exact at once after the step returns, as the
  // process exists as soon as its start has returned.
  bool InterpreterStarted() const;

 private:
  TempDriveRoot drive_;
  std::string oldFolder_;
};
#endif

namespace engine {
class InstallManager;
struct PipelineSignals;
}  // namespace engine
