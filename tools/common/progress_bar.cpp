#include "tools/common/progress_bar.h"

#include "platform/clock.h"

namespace tools {
namespace {

constexpr uint32_t kQuietMs = 1000;  // a shorter download draws nothing
constexpr uint32_t kRedrawMs = 100;  // the terminal is not worth more
constexpr int kBarWidth = 20;
constexpr int kLineWidth = 79;  // the line is blanked this wide when done

std::string FormatDuration(double seconds) {
  const long whole = static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

}  // namespace

std::string FormatBytes(double bytes) {
  static const char* const kUnits[] = {"B", "KB", "MB", "GB", "TB"};
  int unit = 0;
  while (bytes >= 1000 && unit < 4) {
    bytes /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
  return text;
}

ProgressBar::ProgressBar(std::FILE* out, bool enabled, const std::string& label)
    : out_(out), enabled_(enabled), label_(label), started_(platform::TickCount()) {}

void ProgressBar::Update(uint64_t received, uint64_t total) {
  if (!enabled_) return;
  const uint32_t now = platform::TickCount();
  const uint32_t elapsed = now - started_;
  if (elapsed < kQuietMs || (drawn_ && now - last_draw_ < kRedrawMs)) return;
  last_draw_ = now;
  drawn_ = true;
  const double rate = received * 1000.0 / elapsed;
  std::string line = label_ + "  ";
  if (total > 0) {
    const double fraction = received >= total ? 1.0 : static_cast<double>(received) / total;
    const int filled = static_cast<int>(fraction * kBarWidth);
    line += "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "]  ";
    line += FormatBytes(static_cast<double>(received)) + " of " +
            FormatBytes(static_cast<double>(total));
  } else {
    line += FormatBytes(static_cast<double>(received));
  }
  line += "  " + FormatBytes(rate) + "/s";
  if (total > received && rate > 0)
    line += "  " + FormatDuration((total - received) / rate) + " left";
  if (static_cast<int>(line.size()) > kLineWidth) line.resize(kLineWidth);
  std::fprintf(out_, "\r%-*s", kLineWidth, line.c_str());
  std::fflush(out_);
}

void ProgressBar::Finish() {
  if (!drawn_) return;
  drawn_ = false;
  std::fprintf(out_, "\r%*s\r", kLineWidth, "");
  std::fflush(out_);
}

}  // namespace tools
