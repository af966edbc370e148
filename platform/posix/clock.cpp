#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace platform {

uint32_t TickCount() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void SleepMs(uint32_t milliseconds) {
  timespec remaining;
  remaining.tv_sec = milliseconds / 1000;
  remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

UtcTime UtcNow() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm parts;
  gmtime_r(&now.tv_sec, &parts);
  UtcTime result;
  result.year = parts.tm_year + 1900;
  result.month = parts.tm_mon + 1;
  result.day = parts.tm_mday;
  result.hour = parts.tm_hour;
  result.minute = parts.tm_min;
  result.second = parts.tm_sec;
  result.millisecond = static_cast<int>(now.tv_nsec / 1000000);
  return result;
}

}  // namespace platform
