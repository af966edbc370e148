// A build's funnel as conversions, and two builds' funnels side by side with
// each step whose conversion is significantly worse in the newer one flagged
// (proportion_drop.h), for `report --compare OLD NEW` and the page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/collector/funnel.h"
#include "tools/collector/proportion_drop.h"

namespace collector {

// One row: the share of the build's started runs that reached it and, for a
// row on a run's road (StepBefore), the share of the row before's runs that
// reached it and how many of those did not.
struct StepConversion {
  const char* label = "";
  uint64_t runs = 0;
  std::optional<double> of_started;  // none without started runs
  std::optional<size_t> before;      // the row before, by index
  uint64_t before_runs = 0;
  std::optional<double> conversion;  // runs / before_runs, when the row before has runs
  uint64_t lost = 0;                 // before_runs - runs, never below 0
};

std::vector<StepConversion> Conversions(const BuildFunnel& build);

struct StepComparison {
  StepConversion old_step;
  StepConversion new_step;
  std::optional<double> difference;  // the new conversion less the old, when both are known
  ProportionDrop drop;               // drop.significant: worse in the new build
};

struct FunnelComparison {
  BuildFunnel old_build;
  BuildFunnel new_build;
  std::vector<StepComparison> steps;  // the rows that have a row before, in their order
  size_t worse_steps = 0;
};

FunnelComparison CompareFunnels(const BuildFunnel& old_build, const BuildFunnel& new_build);

// The two builds' funnels read from the store, within the filter's time
// range, and compared. The names are cut as the aggregates cut a watermark,
// so that a long one still finds its build. `page`, when given, gets the
// funnel of the filter's own watermark from the same reading of the range.
std::optional<FunnelComparison> BuildFunnelComparison(Store& store, const FunnelFilter& filter,
                                                      const std::string& old_build,
                                                      const std::string& new_build,
                                                      std::string* error,
                                                      FunnelReport* page = nullptr);

}  // namespace collector
