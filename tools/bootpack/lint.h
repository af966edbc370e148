// Checks a CONFIG.TXT for everything the bootstrapper would silently misread or
// ignore: unknown keys, lines it skips or cuts, values of the wrong form.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace bootpack {

enum class Severity { kWarning, kError };

struct LintFinding {
  int line = 0;  // 1-based; 0 for the file as a whole (a missing key)
  Severity severity = Severity::kWarning;
  std::string message;
};

struct LintReport {
  std::vector<LintFinding> findings;  // by line; whole-file findings last
  int errors = 0;
  int warnings = 0;

  // 0 clean, 1 warnings only, 2 errors.
  int ExitStatus() const { return errors ? 2 : warnings ? 1 : 0; }
};

LintReport LintConfig(const std::string& text);

// One "LABEL:LINE: error: message" line per finding ("LABEL: warning: ..." for
// whole-file findings).
void PrintFindings(const std::string& label, const LintReport& report, std::FILE* out);

// `bootpack lint CONFIG.TXT`: returns the report's exit status, or 2 when the
// file cannot be read or the arguments are wrong.
int LintCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace bootpack
