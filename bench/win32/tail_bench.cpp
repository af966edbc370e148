// The launcher-output tail under Wine: a 10 MiB output file that grows by
// 1 KiB between polls, read by the product's ParseLauncherOutput, against a
// reader that takes the whole file at every poll. The bytes each poll reads
// are the process's own read count (rchar of its Linux process's
// /proc/PID/io: Wine's file reads are that process's read calls), not the
// parser's idea of them.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/win32/bench_common.h"
#include "components/launcher_output.h"
#include "platform/files.h"

namespace wine_bench {
namespace {

constexpr size_t kStartBytes = 10u << 20;
constexpr size_t kGrowthBytes = 1024;

std::string ReadSmallFile(const std::string& path) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text(8192, '\0');
  DWORD got = 0;
  if (!ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, nullptr)) got = 0;
  CloseHandle(file);
  text.resize(got);
  return text;
}

// The Linux process behind this one. Wine opens files in its server, so
// /proc/self there is the server; this process is the one of our name whose
// environment names our prefix.
std::string OwnProcFolder() {
  char prefix[MAX_PATH] = {};
  if (!GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix)) return std::string();
  const std::string marker = std::string("WINEPREFIX=") + prefix;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
  if (search == INVALID_HANDLE_VALUE) return std::string();
  std::string result;
  do {
    if (found.cFileName[0] < '0' || found.cFileName[0] > '9') continue;
    const std::string folder = std::string("Z:\\proc\\") + found.cFileName;
    if (ReadSmallFile(folder + "\\stat").find("(wine_bench.exe)") == std::string::npos) continue;
    HANDLE file = CreateFileA((folder + "\\environ").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;
    std::string environment;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got)
      environment.append(buffer, got);
    CloseHandle(file);
    environment.push_back('\0');
    if (environment.find(marker + '\0') != std::string::npos) result = folder;
  } while (result.empty() && FindNextFileA(search, &found));
  FindClose(search);
  return result;
}

// Bytes this process has read through system calls so far (rchar); -1 when
// Linux's process files are out of reach.
long long ReadCount(const std::string& folder) {
  const std::string text = ReadSmallFile(folder + "\\io");
  const size_t field = text.find("rchar:");
  return field == std::string::npos ? -1 : std::strtoll(text.c_str() + field + 6, nullptr, 10);
}

// 1 KiB of launcher lines: sixteen 64-byte progress lines.
std::string Growth(int poll) {
  std::string text;
  for (int i = 0; i < 16; ++i) {
    char line[80];
    std::snprintf(line, sizeof line, "<DownloadProgress AppName=\"Parlor\" Percent=\"%3d\" />",
                  (poll * 16 + i) % 100);
    std::string padded(line);
    padded.resize(62, ' ');
    text += padded + "\r\n";
  }
  return text;
}

bool Append(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (!file) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && ok;
}

// The peer: a reader that takes the whole file at every look.
size_t ReadWhole(std::FILE* file) {
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  std::string text(static_cast<size_t>(size), '\0');
  return std::fread(&text[0], 1, text.size(), file);
}

}  // namespace

int TailMain(int argc, char** argv) {
  const int polls = argc >= 1 ? std::max(20, std::atoi(argv[0])) : 100;
  const std::string path = TempFolder() + "BrindleAgentLauncherOutput.txt";
  DeleteFileA(path.c_str());
  for (size_t written = 0; written < kStartBytes; written += kGrowthBytes) {
    if (!Append(path, Growth(static_cast<int>(written / kGrowthBytes)))) {
      std::printf("tail: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  const std::string proc = OwnProcFolder();
  if (proc.empty() || ReadCount(proc) < 0) {
    std::printf("tail: this process's /proc/PID/io cannot be found from inside Wine\n");
    return 1;
  }
  // What one look at the read count costs by itself, taken off each poll.
  std::vector<double> idle;
  for (int i = 0; i < 9; ++i) {
    const long long before = ReadCount(proc);
    idle.push_back(static_cast<double>(ReadCount(proc) - before));
  }
  const double baseline = Median(idle);
  std::printf("tail: read counts from %s, %.0f bytes a look\n", proc.c_str(), baseline);

  components::LauncherOutput output;
  platform::UniqueFile file = platform::OpenFile(path, "rb");
  platform::UniqueFile whole = platform::OpenFile(path, "rb");
  const components::LauncherErrorHandler no_errors = [](const std::string&, int32_t) {};
  ParseLauncherOutput(&output, file.get(), "Parlor", no_errors);  // the first 10 MiB
  std::vector<double> ours, theirs, ours_ms;
  for (int poll = 0; poll < polls; ++poll) {
    Append(path, Growth(poll));
    const long long start = ReadCount(proc);
    const double started = Now();
    ParseLauncherOutput(&output, file.get(), "Parlor", no_errors);
    const double took = Now() - started;
    const long long middle = ReadCount(proc);
    ReadWhole(whole.get());
    const long long end = ReadCount(proc);
    ours.push_back(static_cast<double>(middle - start) - baseline);
    theirs.push_back(static_cast<double>(end - middle) - baseline);
    ours_ms.push_back(took * 1000);
  }
  const std::vector<double> first(ours.begin(), ours.begin() + 10);
  const std::vector<double> last(ours.end() - 10, ours.end());
  std::printf(
      "tail: %d polls, file %lld bytes at the end, parser at offset %u; ParseLauncherOutput "
      "read %.0f bytes a poll over the first 10 polls, %.0f over the last 10 (max %.0f), "
      "%.3f ms a poll; the whole-file reader %.0f bytes a poll\n",
      polls, static_cast<long long>(platform::FileSize(path)), output.readOffset, Median(first),
      Median(last), *std::max_element(ours.begin(), ours.end()), Median(ours_ms), Median(theirs));
  PrintFigure("Wine: launcher-output tail, bytes read per poll (10 MiB file, +1 KiB a poll)",
              Median(ours), "B", "whole-file read per poll", Median(theirs), 0);
  PrintFigure("Wine: launcher-output tail, bytes per poll, last 10 polls against first 10",
              Median(last), "B", "first 10 polls", Median(first), 1.1);
  file.reset();
  whole.reset();
  DeleteFileA(path.c_str());
  return 0;
}

}  // namespace wine_bench
