#include "platform/process.h"

#include <windows.h>
// After <windows.h>, which it needs.
#include <tlhelp32.h>

#include <vector>

#include "platform/win32/unique_handle.h"

namespace platform {

struct Process::Native {
  Native(HANDLE handle, DWORD process_id) : process(handle), id(process_id) {}
  KernelHandle process;
  DWORD id;
  uint64_t creation_time = 0;
};

namespace {

uint64_t TimeValue(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

uint64_t Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return TimeValue(now);
}

// Wine answers for a process it is still making with its memory fill
// (0x5555... , far in the future) until the process has started: a time
// later than now is not known yet.
bool CreationTimeOf(HANDLE process, uint64_t* time) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return false;
  if (TimeValue(created) > Now()) return false;
  *time = TimeValue(created);
  return true;
}

// CreateProcessA may write into the command line, so it gets its own copy.
std::unique_ptr<Process::Native> Create(const char* application, const std::string& command_line,
                                        DWORD creation_flags, bool hidden, uint32_t* error) {
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  if (hidden) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  PROCESS_INFORMATION created;
  ZeroMemory(&created, sizeof created);
  const uint64_t before = Now();
  if (!CreateProcessA(application, line.data(), nullptr, nullptr, FALSE, creation_flags, nullptr,
                      nullptr, &startup, &created)) {
    *error = GetLastError();
    return nullptr;
  }
  CloseHandle(created.hThread);
  std::unique_ptr<Process::Native> native(
      new Process::Native(created.hProcess, created.dwProcessId));
  // Not known yet, the moment before the call bounds it: every process older
  // than this one is older than that.
  if (!CreationTimeOf(created.hProcess, &native->creation_time)) native->creation_time = before;
  return native;
}

}  // namespace

std::unique_ptr<Process> Process::Start(const std::string& command_line, uint32_t* error) {
  *error = 0;
  std::unique_ptr<Native> native =
      Create(nullptr, command_line, CREATE_NO_WINDOW, /*hidden=*/false, error);
  if (!native) return nullptr;
  return std::unique_ptr<Process>(new Process(native.release()));
}

std::unique_ptr<Process> Process::StartHidden(const std::string& application,
                                              const std::string& command_line, uint32_t* error) {
  *error = 0;
  std::unique_ptr<Native> native =
      Create(application.c_str(), command_line, CREATE_DEFAULT_ERROR_MODE, /*hidden=*/true, error);
  if (!native) return nullptr;
  return std::unique_ptr<Process>(new Process(native.release()));
}

Process::Process(Native* native) : native_(native) {}

Process::~Process() = default;

uint32_t Process::id() const { return native_->id; }

uint64_t Process::creation_time() const { return native_->creation_time; }

bool Process::WaitForExit(uint32_t timeout_ms, uint32_t* error) {
  const DWORD result = WaitForSingleObject(native_->process.get(), timeout_ms);
  if (error) *error = result == WAIT_FAILED ? GetLastError() : 0;
  return result == WAIT_OBJECT_0;
}

int Process::ExitCode() {
  DWORD code = 0;
  if (!GetExitCodeProcess(native_->process.get(), &code)) return -1;
  return static_cast<int>(code);
}

bool Process::Terminate(uint32_t exit_code) {
  return TerminateProcess(native_->process.get(), exit_code) != 0;
}

namespace {

typedef HANDLE(WINAPI* CreateSnapshotFunction)(DWORD, DWORD);
typedef BOOL(WINAPI* WalkFunction)(HANDLE, PROCESSENTRY32*);

// The process list functions arrived with Windows 2000: looked up at run
// time, so the program still loads on NT 4.0 (where the list reads as failed).
struct ToolHelp {
  ToolHelp() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return;
    create_snapshot = reinterpret_cast<CreateSnapshotFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "CreateToolhelp32Snapshot")));
    first = reinterpret_cast<WalkFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "Process32First")));
    next = reinterpret_cast<WalkFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "Process32Next")));
  }
  bool ok() const { return create_snapshot && first && next; }
  CreateSnapshotFunction create_snapshot = nullptr;
  WalkFunction first = nullptr;
  WalkFunction next = nullptr;
};

}  // namespace

bool SnapshotProcesses(std::vector<ProcessEntry>* entries) {
  entries->clear();
  static ToolHelp tool_help;  // loads the library once, on first use
  if (!tool_help.ok()) return false;
  KernelHandle snapshot(tool_help.create_snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.get() == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  if (!tool_help.first(snapshot.get(), &entry)) return false;
  do {
    // A process still being made can be listed before it has its image
    // (Wine does so): nameless, it is not yet the program it will run, and a
    // console host caught so would pass for the launcher.
    if (entry.szExeFile[0] != '\0') {
      ProcessEntry process;
      process.id = entry.th32ProcessID;
      process.parent_id = entry.th32ParentProcessID;
      process.name = entry.szExeFile;
      entries->push_back(process);
    }
    entry.dwSize = sizeof entry;
  } while (tool_help.next(snapshot.get(), &entry));
  return true;
}

bool ProcessCreationTime(uint32_t id, uint64_t* time) {
  // PROCESS_QUERY_INFORMATION: the limited right that would do arrived only with Vista.
  KernelHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, id));
  return process.get() && CreationTimeOf(process.get(), time);
}

}  // namespace platform
