// What the Windows benchmarks share: a wall clock, medians, and the figure
// lines that bench/run.sh gathers into its table.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace wine_bench {

// Seconds on the performance counter.
inline double Now() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One row of the table: "FIGURE|what|ours|peer|peer's figure|ratio|goal|verdict".
// The ratio is ours / peer's; `goal` is the largest ratio that meets it, 0
// for a figure without a goal.
inline void PrintFigure(const std::string& what, double ours, const std::string& unit,
                        const std::string& peer, double theirs, double goal) {
  const double ratio = theirs > 0 ? ours / theirs : 0;
  char line[512];
  std::snprintf(line, sizeof line, "FIGURE|%s|%.3f %s|%s|%.3f %s|%.3g|%s|%s\n", what.c_str(), ours,
                unit.c_str(), peer.c_str(), theirs, unit.c_str(), ratio,
                goal > 0 ? ("<= " + std::to_string(goal).substr(0, 4)).c_str() : "-",
                goal <= 0       ? "-"
                : ratio <= goal ? "met"
                                : "MISSED");
  std::fputs(line, stdout);
  std::fflush(stdout);
}

// The prefix's temporary folder, with its trailing backslash.
inline std::string TempFolder() {
  char buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof buffer, buffer);
  return std::string(buffer, length);
}

int DownloadMain(int argc, char** argv);
int TailMain(int argc, char** argv);
int WatchMain(int argc, char** argv);
int ReadMain(int argc, char** argv);

}  // namespace wine_bench
