#include "tools/collector/proportion_drop.h"

#include <cmath>
#include <initializer_list>

namespace collector {

ProportionDrop TestProportionDrop(uint64_t old_hits, uint64_t old_runs, uint64_t new_hits,
                                  uint64_t new_runs) {
  ProportionDrop result;
  if (old_hits > old_runs || new_hits > new_runs) return result;
  const double n1 = static_cast<double>(old_runs), n2 = static_cast<double>(new_runs);
  const double pooled = (static_cast<double>(old_hits) + static_cast<double>(new_hits)) / (n1 + n2);
  // Also false for 0 runs (pooled is NaN then) and for a share of 0 or 1
  // on both sides, where there is no spread to measure a fall against.
  for (double n : {n1, n2}) {
    if (!(n * pooled >= kLeastExpectedRuns && n * (1.0 - pooled) >= kLeastExpectedRuns))
      return result;
  }
  const double error = std::sqrt(pooled * (1.0 - pooled) * (1.0 / n1 + 1.0 / n2));
  result.tested = true;
  result.z = (static_cast<double>(new_hits) / n2 - static_cast<double>(old_hits) / n1) / error;
  result.p_value = 0.5 * std::erfc(-result.z / std::sqrt(2.0));  // the normal CDF at z
  result.significant = result.p_value < kDropSignificance;
  return result;
}

}  // namespace collector
