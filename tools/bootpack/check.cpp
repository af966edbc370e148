#include "tools/bootpack/check.h"

#include <cstdlib>

#include "payload/payload_reader.h"
#include "payload/settings.h"
#include "platform/files.h"
#include "tools/common/cli_args.h"

namespace bootpack {

using tools::ParseArgs;
using tools::ParsedArgs;
namespace {

const char kCheckHelp[] =
    "usage: bootpack check EXE|CONFIG.TXT [--timeout S] [--no-download] [--json]\n"
    "\n"
    "Lints the configuration (of a packed executable's payload, or a CONFIG.TXT),\n"
    "then tries what it points to as the bootstrapper will: each download address\n"
    "of the .NET Framework, its Service Pack and the agent package is fetched with\n"
    "the bootstrapper's request (status, announced length, time to the first byte,\n"
    "throughput; the MD5 of a .NET download against its configured key, each\n"
    "configured SHA-256 and signer (the signer on Windows only); for the agent\n"
    "package, a Windows Installer signature and the announced length; whether the\n"
    "address is https and whether a broken transfer would resume there), and\n"
    "the log server gets one test report on port 80 that names itself as coming\n"
    "from a check (token 'bootpack-check').\n"
    "\n"
    "  --timeout S    the longest any wait for a server lasts (default 30)\n"
    "  --no-download  only the head and the first 4 KiB of each body: no digests\n"
    "  --json         one JSON object on standard output instead of the lines\n"
    "\n"
    "One line per check: ok, warning or error, the address and the reason. A\n"
    "progress bar shows on standard error for a download longer than a second,\n"
    "when standard error is a terminal.\n"
    "\n"
    "Exit status: 0 clean, 1 warnings only, 2 errors (or the file cannot be used).\n";

// The longest --timeout: a wait of more than a day is a mistake.
constexpr long kMaxTimeoutSeconds = 86400;

bool ParseSeconds(const std::string& text, uint32_t* ms) {
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(seconds > 0) || seconds > kMaxTimeoutSeconds) return false;
  *ms = static_cast<uint32_t>(seconds * 1000 + 0.5);
  return *ms > 0;
}

CheckResult LintResult(const std::string& label, const LintReport& lint) {
  CheckResult result;
  result.name = "lint";
  result.target = label;
  if (lint.errors) {
    result.verdict = Verdict::kError;
  } else if (lint.warnings) {
    result.verdict = Verdict::kWarning;
  }
  if (lint.findings.empty()) {
    result.reason = "no findings";
  } else {
    result.reason = std::to_string(lint.errors) + " error" + (lint.errors == 1 ? "" : "s") + ", " +
                    std::to_string(lint.warnings) + " warning" + (lint.warnings == 1 ? "" : "s") +
                    " (above)";
  }
  return result;
}

}  // namespace

bool LoadConfigText(const std::string& path, std::string* text, std::string* label,
                    std::string* problem) {
  std::string bytes;
  if (!platform::ReadWholeFile(path, &bytes)) {
    *problem = "cannot read " + path;
    return false;
  }
  if (bytes.compare(0, 2, "MZ") != 0) {
    *text = bytes;
    *label = path;
    return true;
  }
  payload::PayloadReader reader(path);
  if (reader.EntryCount() == 0) {
    *problem = path + " has no payload (pack one with bootpack pack)";
    return false;
  }
  if (!reader.hasEntry("CONFIG.TXT")) {
    *problem = "the payload of " + path + " has no CONFIG.TXT";
    return false;
  }
  text->assign(reader.entryData("CONFIG.TXT"), static_cast<size_t>(reader.entrySize("CONFIG.TXT")));
  *label = path + ":CONFIG.TXT";
  return true;
}

CheckReport RunChecks(const std::string& text, const std::string& label,
                      const CheckOptions& options, const CheckDone& done) {
  CheckReport report;
  report.label = label;
  report.lint = LintConfig(text);
  auto add = [&](const CheckResult& result) {
    report.results.push_back(result);
    if (done) done(report, report.results.back());
  };
  add(LintResult(label, report.lint));
  const payload::Configuration configuration = payload::ParseConfigurationText(text);
  const payload::Settings& settings = configuration.settings;
  for (const components::PlannedDownload& download :
       components::PlanDownloads(settings, "").Addresses()) {
    add(CheckDownload(download, options));
  }
  add(CheckLogServer(settings.get(payload::TORVANEIISLOGSERVER), options));
  return report;
}

int CheckCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  CheckOptions options;
  if (platform::IsTerminal(stderr)) options.progress = stderr;
  return CheckCommand(args, options, out, err);
}

int CheckCommand(const std::vector<std::string>& args, CheckOptions options, std::FILE* out,
                 std::FILE* err) {
  ParsedArgs parsed = ParseArgs(args, {"--timeout"}, {"--no-download", "--json"});
  if (parsed.help) {
    std::fputs(kCheckHelp, out);
    return 0;
  }
  std::string problem = parsed.error;
  if (problem.empty() && parsed.positional.size() != 1) problem = "expected one file";
  if (problem.empty() && parsed.options.count("--timeout") &&
      !ParseSeconds(parsed.Option("--timeout"), &options.timeout_ms)) {
    problem = "--timeout needs a number of seconds above 0";
  }
  if (!problem.empty()) {
    std::fprintf(err, "bootpack check: %s\n%s", problem.c_str(), kCheckHelp);
    return 2;
  }
  options.download = !parsed.Has("--no-download");
  std::string text;
  std::string label;
  if (!LoadConfigText(parsed.positional[0], &text, &label, &problem)) {
    std::fprintf(err, "bootpack check: %s\n", problem.c_str());
    return 2;
  }
  const bool json = parsed.Has("--json");
  const CheckReport report =
      RunChecks(text, label, options, [&](const CheckReport& so_far, const CheckResult& result) {
        if (!json) PrintCheckLine(so_far, result, out);
      });
  if (json) {
    PrintCheckJson(report, out);
  } else {
    PrintCheckSummary(report, out);
  }
  return report.ExitStatus();
}

}  // namespace bootpack
