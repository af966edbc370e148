#include "tools/collector/report_text.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "tools/collector/funnel_rules.h"
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

std::string JsonNumber(const std::optional<double>& value) {
  if (!value || !std::isfinite(*value)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", *value);
  return text;
}

// The row a conversion is measured from, or null.
std::string JsonBefore(const StepConversion& step) {
  return step.before ? JsonString(StepRules()[*step.before].label) : "null";
}

std::string BuildJson(const BuildFunnel& build) {
  std::string out = "{\"watermark\":" + JsonString(build.watermark) +
                    ",\"runs\":" + std::to_string(build.runs) + ",\"steps\":[";
  const std::vector<StepConversion> steps = Conversions(build);
  for (size_t i = 0; i < steps.size(); ++i) {
    const StepConversion& step = steps[i];
    if (i) out += ',';
    out += "{\"step\":" + JsonString(step.label) + ",\"runs\":" + std::to_string(step.runs) +
           ",\"of_started\":" + JsonNumber(step.of_started) + ",\"after\":" + JsonBefore(step) +
           ",\"conversion\":" + JsonNumber(step.conversion) +
           ",\"lost\":" + (step.before ? std::to_string(step.lost) : "null") + "}";
  }
  out += "],\"days\":[";
  for (size_t i = 0; i < build.days.size(); ++i) {
    const DayCount& day = build.days[i];
    out += std::string(i ? "," : "") + "{\"day\":\"" + DayText(day.day) +
           "\",\"runs\":" + std::to_string(day.runs) +
           ",\"failed_runs\":" + std::to_string(day.failed_runs) +
           ",\"failure_rate\":" + JsonNumber(std::optional<double>(FailureRate(day))) + "}";
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

std::string Right(const std::string& text, size_t width) {
  return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

std::string BuildText(const BuildFunnel& build, const std::string& title) {
  std::string out = title + ": " + std::to_string(build.runs) + " runs\n";
  out += "  " + Padded("", 34) + Right("runs", 8) + Right("of started", 12) +
         Right("from before", 13) + Right("lost", 8) + "\n";
  for (const StepConversion& step : Conversions(build)) {
    out += "  " + Padded(step.label, 34) + Right(std::to_string(step.runs), 8) +
           Right(Percent(step.of_started), 12);
    if (step.before) {
      out += Right(Percent(step.conversion), 13) + Right(std::to_string(step.lost), 8);
    }
    out += "\n";
  }
  out += "  " + Padded("stopped reporting (no 3111)", 34) + std::to_string(build.unfinished) + "\n";
  out += "  " + Padded("start to launch, median / p90", 34) + Seconds(build.launch_median_ms) +
         " / " + Seconds(build.launch_p90_ms) + " (" + std::to_string(build.launches_timed) +
         " runs)\n";
  return out;
}

// "'watermark'", or "(none)".
std::string BuildName(const BuildFunnel& build) {
  return build.watermark.empty() ? std::string("(none)")
                                 : "'" + TerminalText(build.watermark) + "'";
}

// "hits/runs conversion" of one side of a compared step.
std::string ComparedSide(const StepConversion& step) {
  return Right(std::to_string(step.runs) + "/" + std::to_string(step.before_runs), 15) +
         Right(Percent(step.conversion), 8);
}

std::string SideJson(const StepConversion& step) {
  return "{\"runs\":" + std::to_string(step.runs) +
         ",\"before_runs\":" + std::to_string(step.before_runs) +
         ",\"conversion\":" + JsonNumber(step.conversion) + "}";
}

}  // namespace

std::string Seconds(const std::optional<int64_t>& ms) {
  if (!ms) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", *ms / 1000.0);
  return text;
}

std::string DayText(int64_t day) {
  const time_t seconds = static_cast<time_t>(day * 86400);
  tm utc{};
  char text[32] = "?";
  if (gmtime_r(&seconds, &utc)) std::strftime(text, sizeof text, "%Y-%m-%d", &utc);
  return text;
}

double FailureRate(const DayCount& day) {
  return day.runs ? static_cast<double>(day.failed_runs) / static_cast<double>(day.runs) : 0.0;
}

std::string Percent(const std::optional<double>& share) {
  if (!share) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", *share * 100.0);
  return text;
}

std::string Points(const std::optional<double>& change) {
  if (!change) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%+.1f pts", *change * 100.0);
  return text;
}

std::string Chance(const ProportionDrop& drop) {
  if (!drop.tested) return "-";
  if (drop.p_value < 0.0001) return "<0.0001";
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", drop.p_value);
  return text;
}

std::string ComparisonAsText(const FunnelComparison& comparison) {
  std::string out =
      "Build " + BuildName(comparison.old_build) + " (" +
      std::to_string(comparison.old_build.runs) + " runs) against build " +
      BuildName(comparison.new_build) + " (" + std::to_string(comparison.new_build.runs) +
      " runs): " + std::to_string(comparison.worse_steps) + " steps significantly worse\n";
  out += "  " + Padded("conversion from the step before", 34) + Right("old", 23) +
         Right("new", 23) + Right("change", 12) + Right("p", 9) + "\n";
  for (const StepComparison& step : comparison.steps) {
    out += (step.drop.significant ? "! " : "  ") + Padded(step.new_step.label, 34) +
           ComparedSide(step.old_step) + ComparedSide(step.new_step) +
           Right(Points(step.difference), 12) + Right(Chance(step.drop), 9) +
           (step.drop.significant ? "  worse" : "") + "\n";
  }
  out +=
      "\n! a lower conversion in the new build by a one-sided two-proportion z-test, "
      "p < 0.01;\n  p \"-\": too few runs on one side to test.\n\n";
  return out + BuildText(comparison.old_build, "Build " + BuildName(comparison.old_build)) + "\n" +
         BuildText(comparison.new_build, "Build " + BuildName(comparison.new_build));
}

std::string ComparisonAsJson(const FunnelComparison& comparison) {
  std::string out = "{\"compare\":{\"old\":" + BuildJson(comparison.old_build) +
                    ",\"new\":" + BuildJson(comparison.new_build) +
                    ",\"worse_steps\":" + std::to_string(comparison.worse_steps) +
                    ",\"significance\":" + JsonNumber(std::optional<double>(kDropSignificance)) +
                    ",\"steps\":[";
  for (size_t i = 0; i < comparison.steps.size(); ++i) {
    const StepComparison& step = comparison.steps[i];
    if (i) out += ',';
    out += "{\"step\":" + JsonString(step.new_step.label) +
           ",\"after\":" + JsonBefore(step.new_step) + ",\"old\":" + SideJson(step.old_step) +
           ",\"new\":" + SideJson(step.new_step) +
           ",\"difference\":" + JsonNumber(step.difference) +
           ",\"tested\":" + (step.drop.tested ? "true" : "false") + ",\"z\":" +
           JsonNumber(step.drop.tested ? std::optional<double>(step.drop.z) : std::nullopt) +
           ",\"p\":" +
           JsonNumber(step.drop.tested ? std::optional<double>(step.drop.p_value) : std::nullopt) +
           ",\"worse\":" + (step.drop.significant ? "true" : "false") + "}";
  }
  return out + "]}}\n";
}

std::string ReportAsText(const FunnelReport& report) {
  std::string out =
      std::to_string(report.records) + " reports, " + std::to_string(report.runs) + " runs\n\n";
  if (report.builds.size() == 1) {
    // The whole funnel is that build's.
    out += BuildText(report.all, "Build " + BuildName(report.builds[0]));
  } else {
    out += BuildText(report.all, "All builds");
    for (const BuildFunnel& build : report.builds)
      out += "\n" + BuildText(build, "Build " + BuildName(build));
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
