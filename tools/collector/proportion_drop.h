// Whether a share fell from one cohort of runs to another by more than
// chance explains: a one-sided two-proportion z-test with the pooled share.
#pragma once

#include <cstdint>

namespace collector {

// The funnel flags a step at this chance or below.
constexpr double kDropSignificance = 0.01;
// The normal approximation holds once each cohort expects at least this many
// runs on each side (reached and not) at the pooled share; below it, no test.
constexpr double kLeastExpectedRuns = 5.0;

struct ProportionDrop {
  bool tested = false;       // both cohorts large enough and the shares not all 0 or all 1
  double z = 0.0;            // (new share - old share) / standard error; below 0: it fell
  double p_value = 1.0;      // the chance of a fall at least this large were there none
  bool significant = false;  // tested and p_value < kDropSignificance
};

// `hits` of `runs` in each cohort; a cohort whose hits exceed its runs is
// not a share and is not tested.
ProportionDrop TestProportionDrop(uint64_t old_hits, uint64_t old_runs, uint64_t new_hits,
                                  uint64_t new_runs);

}  // namespace collector
