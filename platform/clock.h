// Time: the millisecond tick counter, sleeping and the UTC wall clock.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start; wraps at 2^32, so take differences
// in unsigned 32-bit arithmetic.
uint32_t TickCount();

void SleepMs(uint32_t milliseconds);

struct UtcTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};
UtcTime UtcNow();

}  // namespace platform
