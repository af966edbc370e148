// `kestrel-collector report`: the funnel report as plain text or as JSON.
#pragma once

#include <string>

#include "tools/collector/funnel.h"

namespace collector {

// Texts from the records are shown with the bytes a terminal acts on as \xHH.
std::string ReportAsText(const FunnelReport& report);
// One JSON object; texts are 8-bit, so bytes from 0x80 are written as the
// Latin-1 characters \u0080..\u00FF and the output is plain ASCII.
std::string ReportAsJson(const FunnelReport& report);
// "1.234 s", or "-" when there is no figure.
std::string Seconds(const std::optional<int64_t>& ms);

}  // namespace collector
