// The checks of the world a configuration points to: each download address
// fetched as the bootstrapper fetches it, and the log server asked once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/bootpack/check_report.h"

namespace bootpack {

struct CheckOptions {
  uint32_t timeout_ms = 30000;    // the longest any wait for a server lasts
  bool download = true;           // false: only the head and the first bytes of each body
  int log_server_port = 80;       // the bootstrapper reports to port 80; tests use their own
  std::FILE* progress = nullptr;  // where a progress bar goes; null: none
};

// What the file at an address must be.
enum class ExpectedFile {
  kDotNetInstaller,  // compared with its configured MD5 key
  kAgentPackage,     // a Windows Installer package of the announced length
};

struct DownloadToCheck {
  std::string name;  // "dotnet.primary"...
  std::string url;
  ExpectedFile expected = ExpectedFile::kDotNetInstaller;
  std::string md5_key;   // kDotNetInstaller only
  const char* if_empty;  // why an empty address matters
  bool empty_is_error;
};

CheckResult CheckDownload(const DownloadToCheck& download, const CheckOptions& options);

// Resolves the host, connects to its port and sends one report that names
// itself as coming from a check.
CheckResult CheckLogServer(const std::string& host, const CheckOptions& options);

// The report record `CheckLogServer` sends (after the token of the check).
std::string CheckReportRecord();

// Whether the first bytes of a body (and its Content-Type) make an HTML
// page; its title, if it has one, goes to `title`.
bool LooksLikeHtml(const std::string& lead, const std::string& content_type, std::string* title);

}  // namespace bootpack
