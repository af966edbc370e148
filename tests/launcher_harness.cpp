#include "tests/launcher_harness.h"

#include <chrono>

#include "engine/install_step.h"
#include "engine/pipeline_signals.h"
#include "platform/process.h"

#ifdef _WIN32
#include <direct.h>
#include <windows.h>
#else
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/posix/native_path.h"
#endif

FractionLog::FractionLog(engine::InstallStep& step)
    : step_(step), previous_(step.progress().ReplaceListener([this] { Record(); })) {}

FractionLog::~FractionLog() { step_.progress().ReplaceListener(std::move(previous_)); }

void FractionLog::Record() {
  std::lock_guard<std::mutex> guard(mutex_);
  values_.push_back(step_.progress().installFraction.load());
}

std::vector<double> FractionLog::values() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return values_;
}

ScopedCurrentFolder::ScopedCurrentFolder(const std::string& folder) {
  char old[4096];
#ifdef _WIN32
  if (!_getcwd(old, sizeof old)) return;
  old_ = old;
  ok_ = _chdir(folder.c_str()) == 0;
#else
  if (!getcwd(old, sizeof old)) return;
  old_ = old;
  ok_ = chdir(platform::NativePath(folder).c_str()) == 0;
#endif
}

ScopedCurrentFolder::~ScopedCurrentFolder() {
  if (!ok_) return;
#ifdef _WIN32
  const int restored = _chdir(old_.c_str());
#else
  const int restored = chdir(old_.c_str());
#endif
  (void)restored;
}

namespace {

// A conhost.exe whose parent is a cmd.exe.
bool ConsoleHostUnderInterpreter() {
  std::vector<platform::ProcessEntry> entries;
  if (!platform::SnapshotProcesses(&entries)) return false;
  for (const auto& host : entries) {
    if (host.name != "conhost.exe") continue;
    for (const auto& parent : entries) {
      if (parent.id == host.parent_id && parent.name == "cmd.exe") return true;
    }
  }
  return false;
}

}  // namespace

StepWatchdog::StepWatchdog(engine::PipelineSignals& signals, int limit_ms) {
  thread_ = std::thread([this, &signals, limit_ms] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (!done_.load()) {
      if (std::chrono::steady_clock::now() >= deadline) {
        fired_ = true;
        engine::AbortInstallation(signals);
        return;
      }
      if (!sawConsoleHost_.load() && ConsoleHostUnderInterpreter()) sawConsoleHost_ = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
}

StepWatchdog::~StepWatchdog() {
  done_ = true;
  thread_.join();
}

#ifdef _WIN32
bool RunWithoutConsole() {
  DWORD mode = 0;
  if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) {
    FreeConsole();
    return true;
  }
  return false;
}
#endif

#ifndef _WIN32

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

FakeInterpreterDrive::FakeInterpreterDrive() {
  char folder[4096];
  if (getcwd(folder, sizeof folder)) oldFolder_ = folder;
  // An interpreter line that the shell splits differently could redirect into
  // the current folder; let it land here.
  if (chdir(drive_.path().c_str()) != 0) oldFolder_.clear();
  MakeFolders("C:\\WINDOWS\\system32");
}

FakeInterpreterDrive::~FakeInterpreterDrive() {
  // A script the step left running (cancel, time-out): ended by its id, and
  // only while it is still our script.
  const std::string pid = ReadText(drive_.path() + "/pid");
  if (!pid.empty() && ReadText("/proc/" + std::to_string(std::atoi(pid.c_str())) + "/cmdline")
                              .find(drive_.path()) != std::string::npos) {
    kill(std::atoi(pid.c_str()), SIGKILL);
  }
  if (!oldFolder_.empty()) {
    const int restored = chdir(oldFolder_.c_str());
    (void)restored;
  }
}

void FakeInterpreterDrive::SetProgram(const std::string& body) {
  const std::string path = drive_.path() + "/c/WINDOWS/system32/cmd.exe";
  std::ofstream script(path, std::ios::binary | std::ios::trunc);
  script << "#!/bin/sh\n"
         << "tr '\\000' '\\n' < /proc/$PPID/cmdline > " << Quote(drive_.path() + "/seen") << "\n"
         << "echo $$ > " << Quote(drive_.path() + "/pid") << "\n"
         << body << "\n";
  script.close();
  chmod(path.c_str(), 0755);
}

std::string FakeInterpreterDrive::Native(const std::string& drive_path) const {
  return platform::NativePath(drive_path);
}

std::string FakeInterpreterDrive::ShellQuoted(const std::string& drive_path) const {
  return Quote(Native(drive_path));
}

bool FakeInterpreterDrive::MakeFolders(const std::string& drive_path) const {
  std::error_code error;
  std::filesystem::create_directories(Native(drive_path), error);
  return !error;
}

bool FakeInterpreterDrive::WriteFile(const std::string& drive_path, const std::string& bytes) const {
  std::ofstream out(Native(drive_path), std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

bool FakeInterpreterDrive::MakeEmptyFile(const std::string& drive_path) const {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(Native(drive_path)).parent_path(),
                                      error);
  return !error && WriteFile(drive_path, "");
}

std::string FakeInterpreterDrive::AppendLines(const std::string& drive_path,
                                              const std::string& quoted_lines) const {
  return "printf '%s\\n' " + quoted_lines + " >> " + ShellQuoted(drive_path);
}

std::string FakeInterpreterDrive::CommandLineSeen() const {
  // The parent's arguments, one a line: /bin/sh, -c, '<cmd.exe>'<command line>.
  std::istringstream lines(ReadText(drive_.path() + "/seen"));
  std::string shell, dash_c, command;
  std::getline(lines, shell);
  std::getline(lines, dash_c);
  std::getline(lines, command);
  const std::string program = Quote(drive_.path() + "/c/WINDOWS/system32/cmd.exe");
  if (dash_c != "-c" || command.compare(0, program.size(), program) != 0) return std::string();
  return command.substr(program.size());
}

bool FakeInterpreterDrive::InterpreterStarted() const {
  if (!ReadText(drive_.path() + "/seen").empty()) return true;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    if (ReadText(entry.path().string() + "/cmdline").find(drive_.path()) != std::string::npos)
      return true;
  }
  return false;
}

#endif
