// A one-line progress bar on standard error for a download that takes longer
// than a second: bytes, rate and time left, redrawn in place.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tools {

// "512 B", "12.3 KB", "4.5 MB", "1.2 GB" (powers of 1000).
std::string FormatBytes(double bytes);

class ProgressBar {
 public:
  // Draws on `out` only when `enabled` (standard error is a terminal).
  ProgressBar(std::FILE* out, bool enabled, const std::string& label);
  ~ProgressBar() { Finish(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // `total` 0: the length is not known.
  void Update(uint64_t received, uint64_t total);
  // Clears the line if one was drawn.
  void Finish();

 private:
  std::FILE* out_;
  bool enabled_;
  std::string label_;
  uint32_t started_;
  uint32_t last_draw_ = 0;
  bool drawn_ = false;
};

}  // namespace tools
