#include "tools/collector/report_page.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <vector>

#include "tools/collector/funnel_rules.h"
#include "tools/collector/report_text.h"

namespace collector {

namespace {

std::string Html(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        // Controls would make the page invalid; the rest is Latin-1.
        out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
  }
  return out;
}

// A query value: every byte but the unreserved ones as %HH, so that a
// watermark with '&', '+' or '=' comes back whole.
std::string QueryValue(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

// One bar per step, as wide as its share of the started runs.
std::string Chart(const BuildFunnel& build) {
  constexpr int kRow = 22, kLabel = 250, kBars = 620, kTop = 8;
  uint64_t most = 1;
  for (const FunnelStep& step : build.steps) most = std::max(most, step.runs);
  const int height = kTop * 2 + kRow * static_cast<int>(build.steps.size());
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(kLabel + kBars + 80) + "\" height=\"" + std::to_string(height) +
                    "\" role=\"img\" aria-label=\"install funnel\">\n";
  int y = kTop;
  for (const FunnelStep& step : build.steps) {
    const int width = static_cast<int>(kBars * step.runs / most);
    const bool bad = std::string(step.label).find("failed") != std::string::npos ||
                     std::string(step.label).find("cancelled") != std::string::npos ||
                     std::string(step.label).find("declined") != std::string::npos ||
                     std::string(step.label).find("refused") != std::string::npos;
    svg += "<text x=\"" + std::to_string(kLabel - 8) + "\" y=\"" + std::to_string(y + 15) +
           "\" text-anchor=\"end\">" + Html(step.label) + "</text>";
    svg += "<rect x=\"" + std::to_string(kLabel) + "\" y=\"" + std::to_string(y + 3) +
           "\" width=\"" + std::to_string(std::max(width, 1)) + "\" height=\"" +
           std::to_string(kRow - 6) + "\" fill=\"" + (bad ? "#c0504d" : "#39689a") + "\"/>";
    svg += "<text x=\"" + std::to_string(kLabel + std::max(width, 1) + 6) + "\" y=\"" +
           std::to_string(y + 15) + "\">" + std::to_string(step.runs) + "</text>\n";
    y += kRow;
  }
  return svg + "</svg>\n";
}

// The funnel's rows with their share of the started runs and, on a run's
// road, their conversion from the row before and the runs lost there.
std::string ConversionTable(const BuildFunnel& build) {
  std::string out =
      "<table class=\"funnel\"><tr><th>Step</th><th>Runs</th><th>Of started</th>"
      "<th>From the step before</th><th>Conversion</th><th>Lost</th></tr>\n";
  for (const StepConversion& step : Conversions(build)) {
    out += "<tr><td>" + Html(step.label) + "</td><td class=\"n\">" + std::to_string(step.runs) +
           "</td><td class=\"n\">" + Html(Percent(step.of_started)) + "</td>";
    if (step.before) {
      out += "<td>" + Html(StepRules()[*step.before].label) + "</td><td class=\"n\">" +
             Html(Percent(step.conversion)) + "</td><td class=\"n\">" + std::to_string(step.lost) +
             "</td>";
    } else {
      out += "<td></td><td></td><td></td>";
    }
    out += "</tr>\n";
  }
  return out + "</table>\n";
}

std::string BuildTitle(const BuildFunnel& build) {
  return build.watermark.empty() ? std::string("(none)") : Html(build.watermark);
}

// The two builds side by side; a worse step's row is marked, in words as
// well as in colour.
std::string ComparisonSection(const FunnelComparison& comparison) {
  std::string out = "<h2 id=\"compare\">Build " + BuildTitle(comparison.old_build) +
                    " against build " + BuildTitle(comparison.new_build) + "</h2>\n<p>" +
                    std::to_string(comparison.old_build.runs) + " runs against " +
                    std::to_string(comparison.new_build.runs) + " runs. ";
  out += comparison.worse_steps > 0
             ? "<strong class=\"worse-count\">" + std::to_string(comparison.worse_steps) +
                   (comparison.worse_steps == 1 ? " step is" : " steps are") +
                   " significantly worse in the new build.</strong>"
             : std::string("No step is significantly worse in the new build.");
  out +=
      " A step is flagged when its conversion from the step before is lower by a one-sided"
      " two-proportion z-test at p &lt; 0.01; p is \"-\" when a side has too few runs to"
      " test.</p>\n<table class=\"compare\"><tr><th>Step</th><th>Old runs</th><th>Old"
      " conversion</th><th>New runs</th><th>New conversion</th><th>Change</th><th>p</th>"
      "<th></th></tr>\n";
  for (const StepComparison& step : comparison.steps) {
    const bool worse = step.drop.significant;
    out += std::string(worse ? "<tr class=\"worse\">" : "<tr>") + "<td>" +
           Html(step.new_step.label) + "</td>";
    for (const StepConversion* side : {&step.old_step, &step.new_step}) {
      out += "<td class=\"n\">" + std::to_string(side->runs) + " of " +
             std::to_string(side->before_runs) + "</td><td class=\"n\">" +
             Html(Percent(side->conversion)) + "</td>";
    }
    out += "<td class=\"n\">" + Html(Points(step.difference)) + "</td><td class=\"n\">" +
           Html(Chance(step.drop)) + "</td><td>" + (worse ? "&#9660; worse" : "") + "</td></tr>\n";
  }
  return out + "</table>\n";
}

std::string Field(const char* name, const char* label, const std::string& value) {
  return std::string("<label>") + label + " <input name=\"" + name + "\" value=\"" + Html(value) +
         "\" size=\"14\"></label> ";
}

// A plain GET form: the comparison and the time range need no script.
std::string QueryForm(const PageQuery& query) {
  return "<form method=\"get\" action=\"/report\">" +
         Field("compare", "Compare build", query.compare) + Field("with", "with", query.with) +
         Field("since", "received from", query.since) + Field("until", "until", query.until) +
         "<button type=\"submit\">Show</button> <small>times UTC, YYYY-MM-DD[ hh:mm[:ss]]</small>"
         "</form>\n";
}

// None is the funnel bars' blue or red, so that a day chart tells apart in a
// screenshot.
constexpr const char* kBuildColours[] = {"#2a7ab0", "#d4442e", "#5a9a2a", "#8064a2",
                                         "#2f9bb3", "#e07b1a", "#2c4d75", "#8a3b39"};
constexpr size_t kChartedBuilds = std::size(kBuildColours);

// One line per build over the days shown: its runs of each day, or the share
// of them that failed (a day without runs has no share and no point). The
// days are the latest kListedDays up to the latest day any build has runs.
std::string DayChart(const std::vector<const BuildFunnel*>& builds, bool rate) {
  constexpr int kLeft = 56, kWidth = 840, kTop = 12, kHeight = 150, kBelow = 28;
  int64_t first = INT64_MAX, last = INT64_MIN;
  uint64_t most = 1;
  for (const BuildFunnel* build : builds) {
    for (const DayCount& day : build->days) last = std::max(last, day.day);
  }
  if (last == INT64_MIN) return "<p>No runs yet.</p>\n";
  for (const BuildFunnel* build : builds) {
    for (const DayCount& day : build->days) {
      if (day.day <= last - static_cast<int64_t>(kListedDays)) continue;
      first = std::min(first, day.day);
      most = std::max(most, day.runs);
    }
  }
  auto x = [&](int64_t day) {
    return last == first ? kLeft + kWidth / 2
                         : kLeft + static_cast<int>((day - first) * kWidth / (last - first));
  };
  auto y = [&](double value) {
    return kTop + kHeight - static_cast<int>(value * kHeight / (rate ? 1.0 : most));
  };
  const std::string top = rate ? "100%" : std::to_string(most);
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"days\" width=\"" +
                    std::to_string(kLeft + kWidth + 24) + "\" height=\"" +
                    std::to_string(kTop + kHeight + kBelow) + "\" role=\"img\" aria-label=\"" +
                    (rate ? "failure rate per day" : "runs per day") + "\">\n";
  svg += "<path d=\"M" + std::to_string(kLeft) + " " + std::to_string(kTop) + " V" +
         std::to_string(kTop + kHeight) + " H" + std::to_string(kLeft + kWidth) +
         "\" stroke=\"#888\" fill=\"none\"/>";
  svg += "<text x=\"" + std::to_string(kLeft - 6) + "\" y=\"" + std::to_string(kTop + 5) +
         "\" text-anchor=\"end\">" + top + "</text><text x=\"" + std::to_string(kLeft - 6) +
         "\" y=\"" + std::to_string(kTop + kHeight) + "\" text-anchor=\"end\">0</text>";
  // The first and the last day, and a week's days between them.
  for (int64_t day = first; day <= last; day += 7) {
    if (day != first && last - day < 4) continue;  // too close to the last one's label
    svg += "<text x=\"" + std::to_string(x(day)) + "\" y=\"" + std::to_string(kTop + kHeight + 18) +
           "\" text-anchor=\"" + (day == first && last != first ? "start" : "middle") + "\">" +
           DayText(day) + "</text>";
  }
  if (last != first) {
    svg += "<text x=\"" + std::to_string(x(last)) + "\" y=\"" +
           std::to_string(kTop + kHeight + 18) + "\" text-anchor=\"end\">" + DayText(last) +
           "</text>";
  }
  svg += "\n";
  for (size_t b = 0; b < builds.size() && b < kChartedBuilds; ++b) {
    std::string points, dots;
    size_t at = 0;
    const std::vector<DayCount>& days = builds[b]->days;
    for (int64_t day = first; day <= last; ++day) {
      while (at < days.size() && days[at].day < day) ++at;
      const bool counted = at < days.size() && days[at].day == day;
      if (rate && !counted) continue;
      const double value = !counted ? 0.0
                           : rate   ? FailureRate(days[at])
                                    : static_cast<double>(days[at].runs);
      const std::string point = std::to_string(x(day)) + "," + std::to_string(y(value));
      points += (points.empty() ? "" : " ") + point;
      dots += "<circle cx=\"" + std::to_string(x(day)) + "\" cy=\"" + std::to_string(y(value)) +
              "\" r=\"3\" fill=\"" + kBuildColours[b] + "\"><title>" + DayText(day) + ": " +
              (rate ? Html(Percent(value)) : std::to_string(static_cast<uint64_t>(value))) +
              "</title></circle>";
    }
    svg += "<polyline points=\"" + points + "\" stroke=\"" + kBuildColours[b] +
           "\" stroke-width=\"2\" fill=\"none\"/>" + dots + "\n";
  }
  return svg + "</svg>\n";
}

// Runs and failure rate per day, one colour per build, with its key.
std::string DaySection(const std::vector<const BuildFunnel*>& builds, bool more) {
  std::string key = "<p class=\"key\">";
  for (size_t b = 0; b < builds.size() && b < kChartedBuilds; ++b) {
    key += "<span style=\"background:" + std::string(kBuildColours[b]) +
           "\">&nbsp;&nbsp;&nbsp;</span> " + BuildTitle(*builds[b]) + " &nbsp; ";
  }
  if (more || builds.size() > kChartedBuilds) {
    key += "(the " + std::to_string(std::min(builds.size(), kChartedBuilds)) +
           " builds with most runs)";
  }
  key += "</p>\n";
  return "<h2>Runs per day</h2>\n" + key + DayChart(builds, false) +
         "<h2>Failure rate per day</h2>\n<p>The share of each day's runs that reported a"
         " failure; days by the time their first report was received (UTC).</p>\n" +
         DayChart(builds, true);
}

std::string Summary(const BuildFunnel& build) {
  return "<p>" + std::to_string(build.runs) + " runs; " + std::to_string(build.unfinished) +
         " stopped reporting (no exit report); start to launch: median " +
         Html(Seconds(build.launch_median_ms)) + ", 90th percentile " +
         Html(Seconds(build.launch_p90_ms)) + " over " + std::to_string(build.launches_timed) +
         " launched runs.</p>\n";
}

}  // namespace

std::string RenderReportPage(const FunnelReport& report, const PageQuery& query,
                             const std::optional<FunnelComparison>& comparison) {
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"iso-8859-1\">"
      "<title>Kestrel install funnel</title>\n<style>"
      "body{font-family:sans-serif;margin:16px;width:" +
      std::to_string(kPageWidth - 32) +
      "px;color:#222}"
      "svg text{font-size:13px;font-family:sans-serif}"
      "table{border-collapse:collapse;margin-bottom:16px}"
      "td,th{border:1px solid #bbb;padding:3px 8px;text-align:left;font-size:13px}"
      "td.n{text-align:right}h1{font-size:22px}h2{font-size:17px;margin-top:20px}"
      "tr.worse td{background:#f4c7c3;font-weight:bold}.worse-count{color:#a11}"
      "form{margin-bottom:12px;font-size:13px}"
      "</style></head><body>\n<h1>Install funnel</h1>\n" +
      QueryForm(query) + "<p>" + std::to_string(report.records) + " reports from " +
      std::to_string(report.runs) + " runs" +
      (query.since.empty() ? "" : ", received from " + Html(query.since)) +
      (query.until.empty() ? "" : ", received before " + Html(query.until)) + ".</p>\n";
  if (comparison) page += ComparisonSection(*comparison);
  std::vector<const BuildFunnel*> charted;
  if (comparison) {
    charted = {&comparison->old_build, &comparison->new_build};
  } else {
    for (const BuildFunnel& build : report.builds) charted.push_back(&build);
  }
  page += DaySection(charted, !comparison && report.more_builds);
  page += "<h2>" +
          (!query.watermark           ? std::string("All builds")
           : query.watermark->empty() ? std::string("Build (none)")
                                      : "Build " + Html(*query.watermark)) +
          "</h2>\n" + Summary(report.all) + Chart(report.all) + ConversionTable(report.all);

  // A build's own page keeps the time range.
  std::string range;
  if (!query.since.empty()) range += "&amp;since=" + QueryValue(query.since);
  if (!query.until.empty()) range += "&amp;until=" + QueryValue(query.until);
  page +=
      "<h2>Builds</h2>\n<table><tr><th>Watermark</th><th>Runs</th><th>Launched</th>"
      "<th>Exited</th><th>Stopped reporting</th><th>Launch median</th><th>p90</th></tr>\n";
  for (const BuildFunnel& build : report.builds) {
    auto step = [&build](const char* label) {
      for (const FunnelStep& s : build.steps) {
        if (std::string(s.label) == label) return s.runs;
      }
      return uint64_t{0};
    };
    page += "<tr><td><a href=\"/report?watermark=" + QueryValue(build.watermark) + range + "\">" +
            (build.watermark.empty() ? std::string("(none)") : Html(build.watermark)) +
            "</a></td><td class=\"n\">" + std::to_string(build.runs) + "</td><td class=\"n\">" +
            std::to_string(step("game launched")) + "</td><td class=\"n\">" +
            std::to_string(step("exited")) + "</td><td class=\"n\">" +
            std::to_string(build.unfinished) + "</td><td class=\"n\">" +
            Html(Seconds(build.launch_median_ms)) + "</td><td class=\"n\">" +
            Html(Seconds(build.launch_p90_ms)) + "</td></tr>\n";
  }
  page += "</table>\n";
  if (report.more_builds) {
    page += "<p>Builds with fewer runs are not listed: <code>?watermark=W</code> shows one.</p>\n";
  }
  page +=
      "<h2>Top failures</h2>\n<table><tr><th>Reports</th><th>Runs</th>"
      "<th>Event</th><th>Text</th></tr>\n";
  for (const FailureRow& row : report.failures) {
    page += "<tr><td class=\"n\">" + std::to_string(row.reports) + "</td><td class=\"n\">" +
            std::to_string(row.runs) + "</td><td class=\"n\">" + std::to_string(row.event_id) +
            "</td><td>" + Html(row.description) + "</td></tr>\n";
  }
  page +=
      "</table>\n<h2>Runs that stopped reporting (latest first)</h2>\n<table><tr>"
      "<th>Run</th><th>Watermark</th><th>Last event</th><th>At</th></tr>\n";
  for (const UnfinishedRun& run : report.unfinished) {
    page += "<tr><td>" + Html(run.run) + "</td><td>" + Html(run.watermark) +
            "</td><td class=\"n\">" + std::to_string(run.last_event) + "</td><td>" +
            Html(run.last_timestamp) + "</td></tr>\n";
  }
  return page + "</table>\n</body></html>\n";
}

}  // namespace collector
