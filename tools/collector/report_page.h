// GET /report: the funnel report as one HTML page, the funnel drawn as an
// inline SVG bar chart (no script), with the failure and unfinished tables.
// Its size is bounded: the report has a bounded number of rows, each text cut.
#pragma once

#include <string>

#include "tools/collector/funnel.h"

namespace collector {

// The page's width and height in CSS pixels at which everything shows; the
// screenshot check uses the same.
constexpr int kPageWidth = 1000;

std::string RenderReportPage(const FunnelReport& report);

}  // namespace collector
