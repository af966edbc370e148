#include "tools/collector/proportion_drop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace collector {

namespace {

// Cohorts whose answer is known (z and p worked out by hand from the pooled
// share and the normal distribution).
TEST(ProportionDropTest, KnownCohorts) {
  struct Case {
    const char* what;
    uint64_t old_hits, old_runs, new_hits, new_runs;
    bool tested, significant;
    double z, p;
  };
  const Case kCases[] = {
      {"a clear drop", 900, 1000, 800, 1000, true, true, -6.26224, 1.8974e-10},
      {"noise", 500, 1000, 490, 1000, true, false, -0.447236, 0.327352},
      {"a clear rise is no drop", 800, 1000, 900, 1000, true, false, 6.26224, 1.0},
      {"just past 0.01", 90, 100, 78, 100, true, false, -2.31455, 0.0103188},
      {"just within 0.01", 90, 100, 77, 100, true, true, -2.47653, 0.00663337},
      // A naive z would flag these; too few runs on a side to trust it.
      {"tiny cohorts", 4, 4, 0, 4, false, false, 0, 1},
      {"few runs that fell", 9, 10, 3, 10, false, false, 0, 1},
      {"few runs that did not reach", 20, 20, 14, 20, false, false, 0, 1},
      {"nothing on either side", 0, 0, 0, 0, false, false, 0, 1},
      {"nothing in the new build", 900, 1000, 0, 0, false, false, 0, 1},
      {"every run on both sides", 500, 500, 700, 700, false, false, 0, 1},
      {"no run on either side", 0, 500, 0, 700, false, false, 0, 1},
      {"more hits than runs", 12, 10, 5, 10, false, false, 0, 1},
  };
  for (const Case& c : kCases) {
    const ProportionDrop drop = TestProportionDrop(c.old_hits, c.old_runs, c.new_hits, c.new_runs);
    EXPECT_EQ(drop.tested, c.tested) << c.what;
    EXPECT_EQ(drop.significant, c.significant) << c.what;
    EXPECT_TRUE(std::isfinite(drop.z) && std::isfinite(drop.p_value)) << c.what;
    EXPECT_NEAR(drop.z, c.z, 1e-4) << c.what;
    EXPECT_NEAR(drop.p_value, c.p, std::max(1e-6, c.p * 1e-3)) << c.what;
  }
}

// Many pairs of cohorts drawn with a fixed seed: with no real change about 1
// in 100 is flagged, and a real fall of 5 points over 2,000 runs a side is
// found nearly every time.
TEST(ProportionDropTest, FlagsAsOftenAsItsLevelSays) {
  std::mt19937 draw(20261210);
  auto cohort = [&draw](double share, int runs) {
    uint64_t hits = 0;
    for (int i = 0; i < runs; ++i) hits += draw() < share * 4294967296.0;
    return hits;
  };
  constexpr int kPairs = 1000, kRuns = 2000;
  int flagged_noise = 0, flagged_drop = 0;
  for (int i = 0; i < kPairs; ++i) {
    flagged_noise +=
        TestProportionDrop(cohort(0.9, kRuns), kRuns, cohort(0.9, kRuns), kRuns).significant;
    flagged_drop +=
        TestProportionDrop(cohort(0.9, kRuns), kRuns, cohort(0.85, kRuns), kRuns).significant;
  }
  // 10 expected; binomial spread about 3.
  EXPECT_LE(flagged_noise, 20);
  EXPECT_GE(flagged_drop, 990);
}

}  // namespace

}  // namespace collector
