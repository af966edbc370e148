// GET /report: the funnel report as one HTML page, the funnel drawn as an
// inline SVG bar chart (no script), its conversions, the failure and
// unfinished tables, and two builds compared when asked. Its size is
// bounded: the report has a bounded number of rows, each text cut.
#pragma once

#include <optional>
#include <string>

#include "tools/collector/funnel.h"
#include "tools/collector/funnel_compare.h"

namespace collector {

// The page's width and height in CSS pixels at which everything shows; the
// screenshot check uses the same.
constexpr int kPageWidth = 1000;

// What the page was asked for (its query's fields, as given), shown back in
// its form.
struct PageQuery {
  std::optional<std::string> watermark;  // one build's page; "" the runs without one
  std::string since;
  std::string until;
  std::string compare;  // the old build
  std::string with;     // the new build
};

std::string RenderReportPage(const FunnelReport& report, const PageQuery& query = {},
                             const std::optional<FunnelComparison>& comparison = std::nullopt);

}  // namespace collector
