#include "platform/clock.h"

#include <gtest/gtest.h>

#include <ctime>

namespace platform {
namespace {

TEST(ClockTest, TickCountFollowsSleep) {
  uint32_t start = TickCount();
  SleepMs(100);
  uint32_t elapsed = TickCount() - start;
  // It counts milliseconds, not finely: the tick may be as coarse as 16 ms, and
  // under Wine it is the wineserver's shared copy, which falls behind while
  // the server waits for a CPU (84 ms for this sleep once in a busy CI run).
  EXPECT_GE(elapsed, 50u);
  EXPECT_LT(elapsed, 2000u);
}

// Days since 1970-01-01 of a civil date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

TEST(ClockTest, UtcNowAgreesWithTheCLibrary) {
  std::time_t before = std::time(nullptr);
  UtcTime now = UtcNow();
  std::time_t after = std::time(nullptr);
  ASSERT_GE(now.month, 1);
  ASSERT_LE(now.month, 12);
  ASSERT_GE(now.day, 1);
  ASSERT_LE(now.day, 31);
  EXPECT_GE(now.millisecond, 0);
  EXPECT_LE(now.millisecond, 999);
  int64_t seconds = DaysFromCivil(now.year, now.month, now.day) * 86400 + now.hour * 3600 +
                    now.minute * 60 + now.second;
  EXPECT_GE(seconds, static_cast<int64_t>(before) - 1);
  EXPECT_LE(seconds, static_cast<int64_t>(after) + 1);
}

}  // namespace
}  // namespace platform
