#include "tools/collector/report_text.h"

#include <cstdio>

#include "tools/common/json.h"

namespace collector {

namespace {

using tools::JsonString;

// Bytes a terminal acts on (C0 controls, DEL, the C1 controls that 8-bit
// terminals read as escapes) as \xHH: a record's text cannot retitle the
// window, clear the screen or forge lines of the report.
std::string TerminalText(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string JsonNumber(const std::optional<int64_t>& value) {
  return value ? std::to_string(*value) : "null";
}

std::string BuildJson(const BuildFunnel& build) {
  std::string out = "{\"watermark\":" + JsonString(build.watermark) +
                    ",\"runs\":" + std::to_string(build.runs) + ",\"steps\":[";
  for (size_t i = 0; i < build.steps.size(); ++i) {
    if (i) out += ',';
    out += "{\"step\":" + JsonString(build.steps[i].label) +
           ",\"runs\":" + std::to_string(build.steps[i].runs) + "}";
  }
  out += "],\"unfinished_runs\":" + std::to_string(build.unfinished) +
         ",\"start_to_launch_ms\":{\"median\":" + JsonNumber(build.launch_median_ms) +
         ",\"p90\":" + JsonNumber(build.launch_p90_ms) +
         ",\"runs\":" + std::to_string(build.launches_timed) + "}}";
  return out;
}

std::string Padded(const std::string& text, size_t width) {
  return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}

std::string BuildText(const BuildFunnel& build, const std::string& title) {
  std::string out = title + ": " + std::to_string(build.runs) + " runs\n";
  for (const FunnelStep& step : build.steps) {
    out += "  " + Padded(step.label, 34) + std::to_string(step.runs) + "\n";
  }
  out += "  " + Padded("stopped reporting (no 3111)", 34) + std::to_string(build.unfinished) + "\n";
  out += "  " + Padded("start to launch, median / p90", 34) + Seconds(build.launch_median_ms) +
         " / " + Seconds(build.launch_p90_ms) + " (" + std::to_string(build.launches_timed) +
         " runs)\n";
  return out;
}

}  // namespace

std::string Seconds(const std::optional<int64_t>& ms) {
  if (!ms) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", *ms / 1000.0);
  return text;
}

std::string ReportAsText(const FunnelReport& report) {
  std::string out =
      std::to_string(report.records) + " reports, " + std::to_string(report.runs) + " runs\n\n";
  auto name = [](const BuildFunnel& build) {
    return "Build " + (build.watermark.empty() ? std::string("(none)")
                                               : "'" + TerminalText(build.watermark) + "'");
  };
  if (report.builds.size() == 1) {
    out += BuildText(report.all, name(report.builds[0]));  // the whole funnel is that build's
  } else {
    out += BuildText(report.all, "All builds");
    for (const BuildFunnel& build : report.builds) out += "\n" + BuildText(build, name(build));
  }
  if (report.more_builds) {
    out += "\n(more builds, each with fewer runs, are not listed: --watermark W shows one)\n";
  }
  out += "\nTop failures (reports, runs, event, text):\n";
  if (report.failures.empty()) out += "  none\n";
  for (const FailureRow& row : report.failures) {
    out += "  " + Padded(std::to_string(row.reports), 8) + Padded(std::to_string(row.runs), 8) +
           Padded(std::to_string(row.event_id), 6) + TerminalText(row.description) + "\n";
  }
  out += "\nRuns that stopped reporting, latest first (run, build, last event):\n";
  if (report.unfinished.empty()) out += "  none\n";
  for (const UnfinishedRun& run : report.unfinished) {
    out += "  " + TerminalText(run.run) + "  '" + TerminalText(run.watermark) + "'  " +
           std::to_string(run.last_event) + " at " + TerminalText(run.last_timestamp) + "\n";
  }
  return out;
}

std::string ReportAsJson(const FunnelReport& report) {
  std::string out = "{\"reports\":" + std::to_string(report.records) +
                    ",\"runs\":" + std::to_string(report.runs) +
                    ",\"more_builds\":" + (report.more_builds ? "true" : "false") +
                    ",\"all\":" + BuildJson(report.all) + ",\"builds\":[";
  for (size_t i = 0; i < report.builds.size(); ++i) {
    if (i) out += ',';
    out += BuildJson(report.builds[i]);
  }
  out += "],\"failures\":[";
  for (size_t i = 0; i < report.failures.size(); ++i) {
    const FailureRow& row = report.failures[i];
    if (i) out += ',';
    out += "{\"event\":" + std::to_string(row.event_id) +
           ",\"text\":" + JsonString(row.description) +
           ",\"reports\":" + std::to_string(row.reports) + ",\"runs\":" + std::to_string(row.runs) +
           "}";
  }
  out += "],\"unfinished\":[";
  for (size_t i = 0; i < report.unfinished.size(); ++i) {
    const UnfinishedRun& run = report.unfinished[i];
    if (i) out += ',';
    out += "{\"run\":" + JsonString(run.run) + ",\"watermark\":" + JsonString(run.watermark) +
           ",\"last_event\":" + std::to_string(run.last_event) +
           ",\"last_timestamp\":" + JsonString(run.last_timestamp) + "}";
  }
  return out + "]}\n";
}

}  // namespace collector
