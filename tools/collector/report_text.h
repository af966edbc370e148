// `kestrel-collector report`: the funnel report as plain text or as JSON.
#pragma once

#include <string>

#include "tools/collector/funnel.h"
#include "tools/collector/funnel_compare.h"

namespace collector {

// Texts from the records are shown with the bytes a terminal acts on as \xHH.
std::string ReportAsText(const FunnelReport& report);
// One JSON object; texts are 8-bit, so bytes from 0x80 are written as the
// Latin-1 characters \u0080..\u00FF and the output is plain ASCII.
std::string ReportAsJson(const FunnelReport& report);
// `report --compare OLD NEW`: the two funnels side by side, the worse steps
// marked.
std::string ComparisonAsText(const FunnelComparison& comparison);
std::string ComparisonAsJson(const FunnelComparison& comparison);
// "1.234 s", or "-" when there is no figure.
std::string Seconds(const std::optional<int64_t>& ms);
// "YYYY-MM-DD" of a day counted since 1970-01-01.
std::string DayText(int64_t day);
// A day's failed runs as a share of its runs.
double FailureRate(const DayCount& day);
// "83.3%", or "-" when there is no figure.
std::string Percent(const std::optional<double>& share);
// A change of share in percentage points, "-30.0 pts", or "-".
std::string Points(const std::optional<double>& change);
// A test's chance as shown: "0.0012", "<0.0001", or "-" when not tested.
std::string Chance(const ProportionDrop& drop);

}  // namespace collector
