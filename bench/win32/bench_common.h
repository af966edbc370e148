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

// A figure with as many decimals as its unit deserves.
inline std::string Amount(double value, const std::string& unit) {
  const int decimals = unit == "s" || unit == "x" ? 2 : unit == "MiB" ? 1 : 0;
  char text[64];
  std::snprintf(text, sizeof text, "%.*f %s", decimals, value, unit.c_str());
  return text;
}

// One row of the table: "FIGURE|what|ours|peer|peer's figure|ratio|goal|verdict".
// The ratio is ours / peer's; `goal` is the largest ratio that meets it, 0
// for a figure without a goal.
inline void PrintFigure(const std::string& what, double ours, const std::string& unit,
                        const std::string& peer, double theirs, double goal) {
  const double ratio = theirs > 0 ? ours / theirs : 0;
  char goal_text[32] = "-";
  if (goal > 0) std::snprintf(goal_text, sizeof goal_text, "<= %.2f", goal);
  std::printf("FIGURE|%s|%s|%s|%s|%.3g|%s|%s\n", what.c_str(), Amount(ours, unit).c_str(),
              peer.c_str(), Amount(theirs, unit).c_str(), ratio, goal_text,
              goal <= 0       ? "-"
              : ratio <= goal ? "met"
                              : "MISSED");
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
int VerifyMain(int argc, char** argv);

}  // namespace wine_bench
