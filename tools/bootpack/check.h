// `bootpack check`: the lint findings, then every download address and the
// log server of a configuration, tried the way the bootstrapper will try them.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tools/bootpack/address_check.h"
#include "tools/bootpack/check_report.h"

namespace bootpack {

// The CONFIG.TXT text of a packed executable (a file starting with "MZ") or
// of a configuration file. False, with the reason in `problem`, when the
// file cannot be read, has no payload, or its payload has no CONFIG.TXT.
bool LoadConfigText(const std::string& path, std::string* text, std::string* label,
                    std::string* problem);

// Called as soon as a check has its result (the lint check first).
using CheckDone = std::function<void(const CheckReport& report, const CheckResult& result)>;

// Lints `text` and runs every check; `label` names it in the lint findings.
CheckReport RunChecks(const std::string& text, const std::string& label,
                      const CheckOptions& options, const CheckDone& done = nullptr);

// Exit status: 0 clean, 1 warnings only, 2 errors or bad input.
int CheckCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// The command with the options fixed by the caller (tests set the log server's port).
int CheckCommand(const std::vector<std::string>& args, CheckOptions options, std::FILE* out,
                 std::FILE* err);

}  // namespace bootpack
