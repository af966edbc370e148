#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/posix/native_path.h"
#include "platform/sync.h"

extern char** environ;

namespace platform {
namespace {

// Windows system error codes for what spawning can run into, so callers see
// the codes they would see on Windows.
uint32_t WindowsErrorFor(int error) {
  switch (error) {
    case ENOENT:
      return 2;  // ERROR_FILE_NOT_FOUND
    case ENOTDIR:
      return 3;  // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
      return 5;  // ERROR_ACCESS_DENIED
    case ENOMEM:
    case EAGAIN:
      return 8;  // ERROR_NOT_ENOUGH_MEMORY
    case ENOEXEC:
      return 193;  // ERROR_BAD_EXE_FORMAT
    default:
      return 31;  // ERROR_GEN_FAILURE
  }
}

// The program a command line starts: its first blank-separated word, or the
// text inside leading quotes.
std::string FirstWord(const std::string& command_line) {
  size_t start = command_line.find_first_not_of(" \t");
  if (start == std::string::npos) return std::string();
  char quote = command_line[start];
  if (quote == '"' || quote == '\'') {
    size_t end = command_line.find(quote, start + 1);
    return command_line.substr(start + 1, end == std::string::npos ? end : end - start - 1);
  }
  size_t end = command_line.find_first_of(" \t", start);
  return command_line.substr(start, end == std::string::npos ? end : end - start);
}

// CreateProcessA fails for a program that is not there, while the shell would
// start and exit with 127: a program named by a path is looked for first.
// A bare name is left to the shell's search (it may be a builtin).
bool CheckProgram(const std::string& path, uint32_t* error) {
  if (path.find('/') == std::string::npos) return true;
  if (access(path.c_str(), X_OK) == 0) return true;
  *error = WindowsErrorFor(errno);
  return false;
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

}  // namespace

struct Process::Native {
  pid_t pid = 0;
  int pidfd = -1;  // readable once the process has ended; -1 on kernels without it
  bool reaped = false;
  int status = 0;
  bool terminated = false;  // Terminate sent SIGKILL
  uint32_t terminate_code = 0;
  uint64_t creation_time = 0;

  // Collects the exit status if the process has ended; true once it has.
  bool Reap() {
    if (reaped) return true;
    for (;;) {
      pid_t result = waitpid(pid, &status, WNOHANG);
      if (result == pid) break;
      if (result == 0) return false;
      if (errno == EINTR) continue;
      status = -1;  // somebody else collected it; the code is lost
      break;
    }
    reaped = true;
    return true;
  }
};

namespace {

std::unique_ptr<Process::Native> Spawn(const std::string& shell_command, uint32_t* error) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Like a windowless Windows child: no console input, no inherited handles
  // beyond the standard output and error.
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
  std::string command = shell_command;
  char sh[] = "sh";
  char dash_c[] = "-c";
  char* argv[] = {sh, dash_c, &command[0], nullptr};
  pid_t pid = 0;
  int result = posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) {
    *error = WindowsErrorFor(result);
    return nullptr;
  }
  std::unique_ptr<Process::Native> native(new Process::Native);
  native->pid = pid;
  native->pidfd = OpenPidFd(pid);
  // The child exists once posix_spawn returns, so its start time can be read.
  ProcessCreationTime(static_cast<uint32_t>(pid), &native->creation_time);
  return native;
}

}  // namespace

std::unique_ptr<Process> Process::Start(const std::string& command_line, uint32_t* error) {
  *error = 0;
  if (!CheckProgram(FirstWord(command_line), error)) return nullptr;
  std::unique_ptr<Native> native = Spawn(command_line, error);
  if (!native) return nullptr;
  return std::unique_ptr<Process>(new Process(native.release()));
}

std::unique_ptr<Process> Process::StartHidden(const std::string& application,
                                              const std::string& command_line, uint32_t* error) {
  *error = 0;
  std::string program = NativePath(application);
  if (program.empty()) {
    *error = 2;
    return nullptr;
  }
  if (program.find('/') == std::string::npos) program = "./" + program;
  if (!CheckProgram(program, error)) return nullptr;
  std::unique_ptr<Native> native = Spawn(ShellQuoted(program) + command_line, error);
  if (!native) return nullptr;
  return std::unique_ptr<Process>(new Process(native.release()));
}

Process::Process(Native* native) : native_(native) {}

Process::~Process() {
  // A child still running is left to run; once it ends it stays a zombie
  // until this process ends (the snapshot does not list zombies).
  native_->Reap();
  if (native_->pidfd >= 0) close(native_->pidfd);
}

uint32_t Process::id() const { return static_cast<uint32_t>(native_->pid); }

uint64_t Process::creation_time() const { return native_->creation_time; }

bool Process::WaitForExit(uint32_t timeout_ms, uint32_t* error) {
  using Clock = std::chrono::steady_clock;
  if (error) *error = 0;  // waiting for a child cannot fail here
  if (native_->Reap()) return true;
  const bool forever = timeout_ms == kWaitForever;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int64_t left =
        forever ? 1000
                : std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                      .count();
    if (left < 0) left = 0;
    if (native_->pidfd >= 0) {
      pollfd ended = {native_->pidfd, POLLIN, 0};
      poll(&ended, 1, static_cast<int>(left > 1000 ? 1000 : left));
    } else if (left > 0) {
      // Without a pidfd: a short poll period keeps the dead time small.
      std::this_thread::sleep_for(std::chrono::milliseconds(left > 2 ? 2 : left));
    }
    if (native_->Reap()) return true;
    if (!forever && Clock::now() >= deadline) return false;
  }
}

int Process::ExitCode() {
  if (!native_->Reap()) return kStillActive;
  const int status = native_->status;
  if (status == -1) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) {
    if (native_->terminated && WTERMSIG(status) == SIGKILL) {
      return static_cast<int>(native_->terminate_code);
    }
    return 128 + WTERMSIG(status);  // as a shell reports it
  }
  return -1;
}

bool Process::Terminate(uint32_t exit_code) {
  if (native_->Reap()) return false;  // as on Windows: an ended process cannot be ended
  if (kill(native_->pid, SIGKILL) != 0) return false;
  native_->terminated = true;
  native_->terminate_code = exit_code;
  return true;
}

namespace {

// One line of /proc/<pid>/stat, split where the command name ends.
struct ProcStat {
  std::string name;
  std::string rest;  // the fields after the name, from the state on
};

bool ReadProcStat(const std::string& pid, ProcStat* stat) {
  std::string path = "/proc/" + pid + "/stat";
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (!file) return false;  // ended since it was listed
  char line[1024];
  size_t length = std::fread(line, 1, sizeof line - 1, file);
  std::fclose(file);
  line[length] = '\0';
  // "pid (comm) state ppid ...": comm may hold blanks and parentheses, so
  // it ends at the last ')'.
  char* open = std::strchr(line, '(');
  char* close = std::strrchr(line, ')');
  if (!open || !close || close < open) return false;
  stat->name.assign(open + 1, close);
  stat->rest = close + 1;
  return true;
}

// The start time (field 22, clock ticks after boot) of a stat line's rest.
bool StartTimeOf(const ProcStat& stat, uint64_t* time) {
  // The rest begins with field 3 (the state): 19 fields precede the start time.
  const char* p = stat.rest.c_str();
  for (int field = 3; field < 22; ++field) {
    while (*p == ' ') ++p;
    while (*p && *p != ' ') ++p;
    if (!*p) return false;
  }
  char* end = nullptr;
  unsigned long long value = std::strtoull(p, &end, 10);
  if (end == p) return false;
  *time = value;
  return true;
}

}  // namespace

bool SnapshotProcesses(std::vector<ProcessEntry>* entries) {
  entries->clear();
  DIR* proc = opendir("/proc");
  if (!proc) return false;
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    unsigned long pid = std::strtoul(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0') continue;
    ProcStat stat;
    if (!ReadProcStat(entry->d_name, &stat)) continue;
    char state = 0;
    unsigned long parent = 0;
    if (std::sscanf(stat.rest.c_str(), " %c %lu", &state, &parent) != 2) continue;
    if (state == 'Z' || state == 'X') continue;  // ended, not yet collected
    ProcessEntry process;
    process.id = static_cast<uint32_t>(pid);
    process.parent_id = static_cast<uint32_t>(parent);
    process.name = stat.name;
    entries->push_back(process);
  }
  closedir(proc);
  return true;
}

bool ProcessCreationTime(uint32_t id, uint64_t* time) {
  ProcStat stat;
  if (!ReadProcStat(std::to_string(id), &stat)) return false;
  char state = 0;
  if (std::sscanf(stat.rest.c_str(), " %c", &state) != 1 || state == 'Z' || state == 'X') {
    return false;
  }
  return StartTimeOf(stat, time);
}

}  // namespace platform
