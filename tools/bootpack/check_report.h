// What `bootpack check` found: one result per check, printed as lines or JSON.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/bootpack/lint.h"

namespace bootpack {

enum class Verdict { kOk, kWarning, kError };

const char* VerdictName(Verdict verdict);  // "ok", "warning", "error"

// One check. The measured fields stay negative (or empty) when not measured.
struct CheckResult {
  std::string name;  // "lint", "dotnet.primary", ..., "logserver"
  Verdict verdict = Verdict::kOk;
  std::string reason;  // plain words
  std::string target;  // the address or host name checked
  int status = -1;
  int64_t length = -1;    // the announced Content-Length
  int64_t received = -1;  // body bytes taken (no more than announced)
  int64_t first_byte_ms = -1;
  int64_t transfer_ms = -1;  // from the head to the body's end
  double bytes_per_second = -1;
  int redirects = -1;
  std::string final_url;
  std::string address;  // the server's IP address
  std::string md5;
  int resumes = -1;  // 1: a broken transfer would be resumed (a ranged request got 206); 0: not
  bool https = false;
};

struct CheckReport {
  std::string label;  // the file checked, as named in the lint findings
  LintReport lint;
  std::vector<CheckResult> results;  // "lint" first

  int Count(Verdict verdict) const;
  // 0 clean, 1 warnings only, 2 errors.
  int ExitStatus() const;
};

// One line per check: the verdict, the check's name, what it tried and why.
// The lint check's line comes after the lint findings.
void PrintCheckLine(const CheckReport& report, const CheckResult& result, std::FILE* out);
void PrintCheckSummary(const CheckReport& report, std::FILE* out);
void PrintCheckJson(const CheckReport& report, std::FILE* out);

}  // namespace bootpack
