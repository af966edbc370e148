#include "tools/bootpack/check_report.h"

#include "tools/common/json.h"

namespace bootpack {
namespace {

using tools::JsonString;

// The fields of one object, comma-separated.
class JsonFields {
 public:
  void Text(const char* name, const std::string& value) { Raw(name, JsonString(value)); }
  void Number(const char* name, int64_t value) {
    if (value >= 0) Raw(name, std::to_string(value));
  }
  void Rate(const char* name, double value) {
    if (value < 0) return;
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", value);
    Raw(name, text);
  }
  void Raw(const char* name, const std::string& json) {
    text_ += (text_.empty() ? "" : ", ") + JsonString(name) + ": " + json;
  }
  std::string Object() const { return "{" + text_ + "}"; }

 private:
  std::string text_;
};

}  // namespace

const char* VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kOk:
      return "ok";
    case Verdict::kWarning:
      return "warning";
    default:
      return "error";
  }
}

int CheckReport::Count(Verdict verdict) const {
  int count = 0;
  for (const CheckResult& result : results) count += result.verdict == verdict;
  return count;
}

int CheckReport::ExitStatus() const {
  return Count(Verdict::kError) ? 2 : Count(Verdict::kWarning) ? 1 : 0;
}

void PrintCheckLine(const CheckReport& report, const CheckResult& result, std::FILE* out) {
  if (&result == &report.results.front()) PrintFindings(report.label, report.lint, out);
  std::fprintf(out, "%-8s %-22s %s%s%s\n", VerdictName(result.verdict), result.name.c_str(),
               result.target.c_str(), result.target.empty() ? "" : ": ", result.reason.c_str());
  std::fflush(out);
}

void PrintCheckSummary(const CheckReport& report, std::FILE* out) {
  const int warnings = report.Count(Verdict::kWarning);
  const int errors = report.Count(Verdict::kError);
  std::fprintf(out, "summary: %d ok, %d warning%s, %d error%s\n", report.Count(Verdict::kOk),
               warnings, warnings == 1 ? "" : "s", errors, errors == 1 ? "" : "s");
}

void PrintCheckJson(const CheckReport& report, std::FILE* out) {
  std::string findings;
  for (const LintFinding& finding : report.lint.findings) {
    JsonFields fields;
    fields.Number("line", finding.line);
    fields.Text("severity", finding.severity == Severity::kError ? "error" : "warning");
    fields.Text("message", finding.message);
    findings += (findings.empty() ? "" : ", ") + fields.Object();
  }
  std::string checks;
  for (const CheckResult& result : report.results) {
    JsonFields fields;
    fields.Text("name", result.name);
    fields.Text("verdict", VerdictName(result.verdict));
    fields.Text("reason", result.reason);
    if (!result.target.empty()) fields.Text("target", result.target);
    fields.Number("status", result.status);
    fields.Number("length", result.length);
    fields.Number("received", result.received);
    fields.Number("first_byte_ms", result.first_byte_ms);
    fields.Number("transfer_ms", result.transfer_ms);
    fields.Rate("bytes_per_second", result.bytes_per_second);
    fields.Number("redirects", result.redirects);
    if (!result.final_url.empty()) fields.Text("final_url", result.final_url);
    if (!result.address.empty()) fields.Text("address", result.address);
    if (!result.md5.empty()) fields.Text("md5", result.md5);
    if (result.resumes >= 0) {
      fields.Raw("resumes", result.resumes ? "true" : "false");
      fields.Raw("https", result.https ? "true" : "false");
    }
    checks += std::string(checks.empty() ? "" : ",") + "\n    " + fields.Object();
  }
  JsonFields summary;
  summary.Number("ok", report.Count(Verdict::kOk));
  summary.Number("warnings", report.Count(Verdict::kWarning));
  summary.Number("errors", report.Count(Verdict::kError));
  summary.Number("exit_status", report.ExitStatus());
  JsonFields top;
  top.Text("file", report.label);
  top.Raw("lint", "[" + findings + "]");
  top.Raw("checks", "[" + checks + "\n  ]");
  top.Raw("summary", summary.Object());
  std::fprintf(out, "%s\n", top.Object().c_str());
}

}  // namespace bootpack
