// The checks of the world a configuration points to: each download address
// fetched as the bootstrapper fetches it, and the log server asked once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "components/download_plan.h"
#include "tools/bootpack/check_report.h"

namespace bootpack {

struct CheckOptions {
  uint32_t timeout_ms = 30000;    // the longest any wait for a server lasts
  bool download = true;           // false: only the head and the first bytes of each body
  int log_server_port = 80;       // the bootstrapper reports to port 80; tests use their own
  std::FILE* progress = nullptr;  // where a progress bar goes; null: none
};

// Fetches the address as the bootstrapper would and judges the file as it
// judges it.
CheckResult CheckDownload(const components::PlannedDownload& download, const CheckOptions& options);

// Why a transfer got no answer, from its error number (an http_error);
// `stalled`: it waited out `timeout_ms`.
std::string NoAnswerReason(uint32_t error, bool stalled, uint32_t timeout_ms);

// Resolves the host, connects to its port and sends one report that names
// itself as coming from a check.
CheckResult CheckLogServer(const std::string& host, const CheckOptions& options);

// The report record `CheckLogServer` sends (after the token of the check).
std::string CheckReportRecord();

}  // namespace bootpack
