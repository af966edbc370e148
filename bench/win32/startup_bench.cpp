// Start-up under Wine with a large payload: the packed bootstrapper from its
// process start to event 3019 (the configuration read; the large entry is
// written out only later, by the worker) and its peak working set, against
// the same stub without the entry and against a process that only reads the
// same file once. All are started, timed and watched alike by this program:
// the time runs from just before CreateProcess, the peak is
// GetProcessMemoryInfo's PeakWorkingSetSize (under Wine the VmHWM of the
// child's Linux process).
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "bench/win32/bench_common.h"
#include "diagnostics/event_record.h"

namespace wine_bench {
namespace {

// Milliseconds since 1601 of the system clock (UTC), as the log's timestamps.
double WallMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER value;
  value.LowPart = now.dwLowDateTime;
  value.HighPart = now.dwHighDateTime;
  return static_cast<double>(value.QuadPart) / 10000.0;
}

// Milliseconds from 1601, where the system's file times count from, to 1970.
constexpr double kFileTimeOf1970Ms = 11644473600000.0;

// The timestamp of the first record of event `id` in the log text, in
// milliseconds since 1601; negative when it is not there yet.
double EventTime(const std::string& log, int id) {
  size_t start = 0;
  for (size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = log.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::optional<diagnostics::EventRecord> record = diagnostics::ParseEventRecord(line);
    if (record && record->event_id == id) {
      return static_cast<double>(*diagnostics::TimestampMs(record->timestamp)) + kFileTimeOf1970Ms;
    }
  }
  return -1;
}

std::string ReadText(const std::string& path) {
  std::string text;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    std::fclose(file);
  }
  return text;
}

struct Watched {
  bool ok = false;
  double ms = 0;          // to event 3019, or to the exit when there is no log
  double ms_to_3000 = 0;  // the first event: the process is running
  double peak = 0;        // bytes, at the moment `ms` was taken
  double peak_after = 0;  // bytes, over the whole watch
};

double Peak(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return 0;
  return static_cast<double>(counters.PeakWorkingSetSize);
}

// Starts `command`; with a log, waits for event 3019 in it, goes on watching
// for `after_ms` and ends the process; without one, waits for its exit.
Watched Watch(const std::string& command, const std::string& log, DWORD after_ms) {
  Watched result;
  if (!log.empty()) DeleteFileA(log.c_str());
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  const double start = WallMs();
  const double start_counter = Now();
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    std::printf("startup: cannot start %s (error %lu)\n", command.c_str(), GetLastError());
    return result;
  }
  CloseHandle(info.hThread);
  // The peak is sampled while the process lives: an ended process has no
  // Linux process left to ask.
  const double deadline = Now() + 60;
  double seen_at = 0;
  while (Now() < deadline) {
    const bool ended = WaitForSingleObject(info.hProcess, 2) == WAIT_OBJECT_0;
    if (!ended) result.peak_after = std::max(result.peak_after, Peak(info.hProcess));
    if (log.empty()) {
      if (!ended) continue;
      result.ms = (Now() - start_counter) * 1000;
      result.peak = result.peak_after;
      DWORD code = 1;
      GetExitCodeProcess(info.hProcess, &code);
      result.ok = code == 0;
      break;
    }
    if (!result.ok) {
      const std::string text = ReadText(log);
      const double at = EventTime(text, 3019);
      if (at >= 0) {
        result.ok = true;
        result.ms = at - start;
        result.ms_to_3000 = EventTime(text, 3000) - start;
        result.peak = result.peak_after;
        seen_at = Now();
      }
    } else if ((Now() - seen_at) * 1000 >= after_ms) {
      break;
    }
    if (ended) break;
  }
  if (!log.empty()) {
    TerminateProcess(info.hProcess, 1);
    WaitForSingleObject(info.hProcess, 10000);
  }
  CloseHandle(info.hProcess);
  return result;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

// wine_bench read FILE: reads the file once in 64 KiB blocks.
int ReadMain(int argc, char** argv) {
  if (argc != 1) return 2;
  HANDLE file = CreateFileA(argv[0], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::vector<char> buffer(64 * 1024);
  DWORD got = 0;
  unsigned long long total = 0;
  while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got) {
    total += got;
  }
  CloseHandle(file);
  return total > 0 ? 0 : 1;
}

// wine_bench watch RUNS EXE PAYLOAD_BYTES [CONTROL_EXE]: EXE is the packed
// bootstrapper, read back whole by the peer; CONTROL_EXE, the same stub and
// configuration without the large entry, shows what the entry itself costs.
int WatchMain(int argc, char** argv) {
  if (argc != 3 && argc != 4) return 2;
  const int runs = std::max(1, std::atoi(argv[0]));
  const std::string exe = argv[1];
  const double payload = std::strtod(argv[2], nullptr);
  char self[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string log = TempFolder() + "TorvaneInstaller\\TorvaneLogFile.txt";
  // The whole file, payload and stub, is what the bootstrapper takes in.
  const std::string reader = Quoted(self) + " read " + Quoted(exe);

  // One unmeasured read first: both then find the file in the cache.
  Watch(reader, std::string(), 0);
  const std::string control = argc == 4 ? argv[3] : std::string();
  std::vector<double> ours, ours_3000, ours_peak, ours_peak_after, theirs, theirs_peak;
  std::vector<double> control_ms, control_3000, control_peak;
  // The control goes first in every other run: whichever follows a process
  // just ended starts a little slower under Wine.
  auto watch_control = [&](int run) {
    if (control.empty()) return;
    const Watched small = Watch(Quoted(control), log, 0);
    if (!small.ok) return;
    control_ms.push_back(small.ms);
    control_3000.push_back(small.ms_to_3000);
    control_peak.push_back(small.peak / 1048576);
    std::printf("run %d: without the entry: 3000 at %.0f ms, 3019 at %.0f ms, peak %.1f MiB\n",
                run + 1, small.ms_to_3000, small.ms, control_peak.back());
  };
  for (int run = 0; run < runs; ++run) {
    if (run % 2 == 1) watch_control(run);
    const Watched product = Watch(Quoted(exe), log, 1500);
    const Watched peer = Watch(reader, std::string(), 0);
    if (!product.ok || !peer.ok) {
      std::printf("startup: run %d failed (bootstrapper %s, reader %s)\n", run + 1,
                  product.ok ? "ok" : "no event 3019", peer.ok ? "ok" : "failed");
      return 1;
    }
    ours.push_back(product.ms);
    ours_3000.push_back(product.ms_to_3000);
    ours_peak.push_back(product.peak / 1048576);
    ours_peak_after.push_back(product.peak_after / 1048576);
    theirs.push_back(peer.ms);
    theirs_peak.push_back(peer.peak / 1048576);
    if (run % 2 == 0) watch_control(run);
    std::printf(
        "run %d: bootstrapper 3000 at %.0f ms, 3019 at %.0f ms, peak %.1f MiB then, %.1f MiB "
        "1.5 s later   reader exits at %.0f ms, peak %.1f MiB\n",
        run + 1, product.ms_to_3000, product.ms, ours_peak.back(), ours_peak_after.back(), peer.ms,
        theirs_peak.back());
  }
  const double mib = payload / 1048576;
  std::printf(
      "startup: payload %.1f MiB; medians: 3000 at %.0f ms, peak 1.5 s after 3019 %.1f MiB\n", mib,
      Median(ours_3000), Median(ours_peak_after));
  PrintFigure("Wine: start-up with a 64 MiB dotnetfx.exe, process start to event 3019",
              Median(ours), "ms", "one read of the same file (process start to exit)",
              Median(theirs), 2.0);
  if (!control_ms.empty()) {
    std::printf("startup: without the entry, medians: 3000 at %.0f ms, 3019 at %.0f ms\n",
                Median(control_3000), Median(control_ms));
    PrintFigure("Wine: start-up, process start to event 3019", Median(ours), "ms",
                "the same stub and CONFIG.TXT without dotnetfx.exe", Median(control_ms), 1.2);
  }
  PrintFigure("Wine: start-up, peak working set up to event 3019", Median(ours_peak), "MiB",
              "the payload's size", mib, 1.2);
  // What the stub holds without the entry (Wine's DLLs, the windows' own)
  // is not the payload's doing.
  if (!control_peak.empty()) {
    PrintFigure("Wine: start-up, peak working set up to 3019 above the stub's without the entry",
                Median(ours_peak) - Median(control_peak), "MiB", "the payload's size", mib, 1.2);
    // An entry is read only when used: whatever its size, it may add at most 8 MiB.
    PrintFigure("Wine: start-up, peak working set up to event 3019", Median(ours_peak), "MiB",
                "the stub's without the entry, plus 8 MiB", Median(control_peak) + 8, 1.0);
    PrintFigure("Wine: start-up, peak working set of the stub without the entry",
                Median(control_peak), "MiB", "the payload's size", mib, 0);
  }
  PrintFigure("Wine: start-up, peak working set of the plain reader", Median(theirs_peak), "MiB",
              "the payload's size", mib, 0);
  return 0;
}

}  // namespace wine_bench
