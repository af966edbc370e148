#include "tools/collector/funnel_compare.h"

#include "tools/collector/funnel_rules.h"
#include "tools/collector/funnel_tally.h"

namespace collector {

std::vector<StepConversion> Conversions(const BuildFunnel& build) {
  std::vector<StepConversion> out;
  const uint64_t started = build.steps.empty() ? 0 : build.steps.front().runs;
  for (size_t i = 0; i < build.steps.size(); ++i) {
    StepConversion row;
    row.label = build.steps[i].label;
    row.runs = build.steps[i].runs;
    if (started > 0) row.of_started = static_cast<double>(row.runs) / static_cast<double>(started);
    row.before = StepBefore(i);
    if (row.before && *row.before < build.steps.size()) {
      row.before_runs = build.steps[*row.before].runs;
      if (row.before_runs > 0) {
        row.conversion = static_cast<double>(row.runs) / static_cast<double>(row.before_runs);
      }
      row.lost = row.before_runs > row.runs ? row.before_runs - row.runs : 0;
    }
    out.push_back(row);
  }
  return out;
}

FunnelComparison CompareFunnels(const BuildFunnel& old_build, const BuildFunnel& new_build) {
  FunnelComparison out;
  out.old_build = old_build;
  out.new_build = new_build;
  const std::vector<StepConversion> olds = Conversions(old_build);
  const std::vector<StepConversion> news = Conversions(new_build);
  for (size_t i = 0; i < olds.size() && i < news.size(); ++i) {
    if (!olds[i].before) continue;
    StepComparison step{olds[i], news[i], std::nullopt, {}};
    if (olds[i].conversion && news[i].conversion)
      step.difference = *news[i].conversion - *olds[i].conversion;
    step.drop =
        TestProportionDrop(olds[i].runs, olds[i].before_runs, news[i].runs, news[i].before_runs);
    if (step.drop.significant) ++out.worse_steps;
    out.steps.push_back(step);
  }
  return out;
}

std::optional<FunnelComparison> BuildFunnelComparison(Store& store, const FunnelFilter& filter,
                                                      const std::string& old_build,
                                                      const std::string& new_build,
                                                      std::string* error, FunnelReport* page) {
  const std::string names[2] = {CutText(old_build), CutText(new_build)};
  std::optional<std::vector<FunnelReport>> reports =
      BuildFunnelReports(store, filter, {names[0], names[1], filter.watermark}, error);
  if (!reports) return std::nullopt;
  for (int i = 0; i < 2; ++i) (*reports)[i].all.watermark = names[i];
  if (page) *page = std::move((*reports)[2]);
  return CompareFunnels((*reports)[0].all, (*reports)[1].all);
}

}  // namespace collector
