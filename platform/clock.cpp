#include "platform/clock.h"

namespace platform {
namespace {

class SystemTickClock : public Clock {
 public:
  uint32_t TickCount() override { return platform::TickCount(); }
  void SleepMs(uint32_t milliseconds) override { platform::SleepMs(milliseconds); }
};

}  // namespace

Clock& SystemClock() {
  static SystemTickClock* clock = new SystemTickClock;
  return *clock;
}

}  // namespace platform
