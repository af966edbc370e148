// Which settings each download reads and what its file must be. The worker
// builds its steps from the plan, and bootpack check tries the same five
// downloads, so the two never read the configuration apart.
#pragma once

#include <string>
#include <vector>

#include "payload/settings.h"

namespace components {

// The first 8 bytes of every Windows Installer package (a compound file).
std::string MsiSignature();

// Where a .NET component comes from and where it is kept, as configured.
struct DotNetDownload {
  std::string primary_url;
  std::string secondaryUrl;
  std::string md5;
  std::string directory;
  std::string fileName;
  std::string version_code;            // DOTNETFRAMEWORKVERSION: which Framework is targeted
  std::string sha256 = std::string();  // lower case; empty: none configured
  std::string signer = std::string();  // whose signature it must carry; empty: none
};

// The agent's package: always fetched afresh, never compared with an MD5.
struct AgentDownload {
  std::string url;
  std::string directory;
  std::string fileName;
  std::string sha256 = std::string();  // lower case; empty: none configured
  std::string signer = std::string();  // whose signature it must carry; empty: none
  // No MD5 guards the package: at least a web page must not pass for it.
  std::string leading_bytes = MsiSignature();
};

// One address to fetch, and what the bootstrapper requires of its file.
struct PlannedDownload {
  const char* name;  // "dotnet.primary", "dotnet.secondary", ..., "agent"
  std::string url;
  std::string md5;            // the digest the file must have; empty: none compared
  std::string sha256;         // the same for a SHA-256 digest, in lower case
  std::string signer;         // whose signature it must carry; empty: none
  std::string leading_bytes;  // what the file must begin with; empty: anything
  bool primary;               // false: a fall-back after the primary failed
};

struct DownloadPlan {
  DotNetDownload framework;
  DotNetDownload service_pack;
  AgentDownload agent;

  // The five addresses in the order the bootstrapper may fetch them.
  std::vector<PlannedDownload> Addresses() const;
};

// The plan the settings make, the files kept in `directory`.
DownloadPlan PlanDownloads(const payload::Settings& settings, const std::string& directory);

}  // namespace components
