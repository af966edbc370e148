// `bootpack lint` over arbitrary files, through the command's own function,
// and the report it is built from.
#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "payload/config_lines.h"
#include "payload/settings.h"
#include "tools/bootpack/lint.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::ScratchPath("CONFIG.TXT");
  fuzz::WriteScratchFile(path, data, size);
  const int status = bootpack::LintCommand({path}, fuzz::NullOutput(), fuzz::NullOutput());

  const std::string text(reinterpret_cast<const char*>(data), size);
  const bootpack::LintReport report = bootpack::LintConfig(text);
  FUZZ_CHECK(status == report.ExitStatus());
  int errors = 0;
  int warnings = 0;
  const int last_line = 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  bool whole_file_seen = false;
  int previous_line = 1;
  for (const bootpack::LintFinding& finding : report.findings) {
    FUZZ_CHECK(!finding.message.empty());
    ++(finding.severity == bootpack::Severity::kError ? errors : warnings);
    // By line, the whole-file findings last.
    if (finding.line == 0) {
      whole_file_seen = true;
      continue;
    }
    FUZZ_CHECK(!whole_file_seen);
    FUZZ_CHECK(finding.line >= previous_line && finding.line <= last_line);
    previous_line = finding.line;
  }
  FUZZ_CHECK(errors == report.errors && warnings == report.warnings);
  bootpack::PrintFindings("CONFIG.TXT", report, fuzz::NullOutput());

  // A clean report means the bootstrapper reads every key a step needs, and
  // an unknown key is one the bootstrapper drops.
  const payload::Configuration configuration = payload::ParseConfigurationText(text);
  if (report.ExitStatus() == 0) {
    for (int slot : {payload::DOTNETFRAMEWORK_PRIMARY_URL, payload::DOTNETFRAMEWORK_MD5_KEY,
                     payload::TORVANEAGENTURL, payload::TORVANEAGENTGUID, payload::DESKID,
                     payload::CONTENTID, payload::DISPLAYID, payload::FILEPATH_ON_SYSTEM_STARTUP,
                     payload::TORVANEIISLOGSERVER, payload::WFGUID}) {
      FUZZ_CHECK(configuration.settings.has(slot));
      FUZZ_CHECK(!configuration.settings.get(slot).empty());
    }
    FUZZ_CHECK(configuration.settings.get(payload::DOTNETFRAMEWORK_MD5_KEY).size() == 32);
  }
  size_t unknown_keys = 0;
  for (const bootpack::LintFinding& finding : report.findings) {
    if (finding.message.compare(0, 13, "unknown key \"") == 0) ++unknown_keys;
  }
  size_t unknown_lines = 0;
  for (const payload::ConfigLine& line : payload::SplitConfigText(text)) {
    if (line.taken && line.slot < 0) ++unknown_lines;
  }
  FUZZ_CHECK(unknown_keys <= unknown_lines);
  return 0;
}
