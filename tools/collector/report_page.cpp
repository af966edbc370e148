#include "tools/collector/report_page.h"

#include <algorithm>

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

std::string Summary(const BuildFunnel& build) {
  return "<p>" + std::to_string(build.runs) + " runs; " + std::to_string(build.unfinished) +
         " stopped reporting (no exit report); start to launch: median " +
         Html(Seconds(build.launch_median_ms)) + ", 90th percentile " +
         Html(Seconds(build.launch_p90_ms)) + " over " + std::to_string(build.launches_timed) +
         " launched runs.</p>\n";
}

}  // namespace

std::string RenderReportPage(const FunnelReport& report) {
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
      "</style></head><body>\n<h1>Install funnel</h1>\n<p>" +
      std::to_string(report.records) + " reports from " + std::to_string(report.runs) +
      " runs.</p>\n<h2>All builds</h2>\n" + Summary(report.all) + Chart(report.all);

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
    page += "<tr><td><a href=\"/report?watermark=" + QueryValue(build.watermark) + "\">" +
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
