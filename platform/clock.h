// Time: the millisecond tick counter, sleeping and the UTC wall clock, and the
// clock a run hands down.
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

// The tick counter and sleeping as a run hands them down, so that what waits
// can be given a clock other than the system's.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t TickCount() = 0;  // as platform::TickCount
  virtual void SleepMs(uint32_t milliseconds) = 0;
};

// The system's: the functions above. Never destroyed, as a pipeline thread
// still running at exit may wait on it.
Clock& SystemClock();

}  // namespace platform
