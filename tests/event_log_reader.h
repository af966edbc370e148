// Reads back the event logger's file in tests: the banner, then one record a line.
#pragma once

#include <string>
#include <vector>

#include "tests/test_paths.h"

namespace testing_logs {

// The file is written in text mode: CR LF on Windows.
#ifdef _WIN32
constexpr char kNewline[] = "\r\n";
#else
constexpr char kNewline[] = "\n";
#endif

inline std::string ExpectedBanner() {
  std::string nl = kNewline;
  return nl + nl + nl + nl + "*****************TORVANE NETWORKS WAYFARER*****************" + nl +
         nl;
}

// The record lines after the banner; false when the file is missing or does
// not start with the banner.
inline bool ReadLogLines(const std::string& path, std::vector<std::string>* lines) {
  std::string bytes;
  if (!test_paths::ReadWholeFile(path, &bytes)) return false;
  std::string banner = ExpectedBanner();
  if (bytes.compare(0, banner.size(), banner) != 0) return false;
  lines->clear();
  std::string newline = kNewline;
  size_t start = banner.size();
  for (size_t end; (end = bytes.find(newline, start)) != std::string::npos;
       start = end + newline.size()) {
    lines->push_back(bytes.substr(start, end - start));
  }
  return start == bytes.size();  // every line ends with a line break
}

}  // namespace testing_logs
