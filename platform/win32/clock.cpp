#include "platform/clock.h"

#include <windows.h>

namespace platform {

uint32_t TickCount() { return GetTickCount(); }

void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

UtcTime UtcNow() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  UtcTime result;
  result.year = now.wYear;
  result.month = now.wMonth;
  result.day = now.wDay;
  result.hour = now.wHour;
  result.minute = now.wMinute;
  result.second = now.wSecond;
  result.millisecond = now.wMilliseconds;
  return result;
}

}  // namespace platform
