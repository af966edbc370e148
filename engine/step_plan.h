// What one installation step is planned to do: where its installer comes from
// and is kept, how it is verified and run, and what it weighs on the bar.
// Written while the step is made; read-only once it is queued (AddStep).
#pragma once

#include <cstdint>
#include <string>

namespace engine {

// The waits of a download. The product uses the defaults; tests shorten them.
struct DownloadTiming {
  // How long the server may keep the download waiting for its answer or for
  // the next bytes of the body before the attempt fails; each such span must
  // also bring at least 1 KiB of the body, or the server counts as stalled.
  uint32_t stall_limit_ms = 60000;
};

struct StepPlan {
  const char* eulaText = nullptr;  // owned by the payload reader
  std::string displayName;
  std::string url;  // the primary address
  std::string fileName;
  std::string localPath;  // where the installer is kept, or found at hand
  std::string md5;
  // A SHA-256 the file must have as well (lower case), whichever the step;
  // empty: none configured.
  std::string sha256;
  // Whose Authenticode signature the file must carry before it is run;
  // empty: none. A file at hand is never taken for it.
  std::string signer;
  // Set by the steps whose configured digest the downloaded file must match;
  // the agent package has a key in the file but is never compared with it.
  bool verify_digest = false;
  // What a downloaded file must begin with (empty: anything). Set by a step
  // without a digest, so a captive portal's page is not handed to its installer.
  std::string leading_bytes;
  bool availableLocally = false;  // the installer is at hand: nothing to download
  std::string commandLine;
  int waitLevel = 0;             // above the steps before it: downloads only once they installed
  int selfReportedProgress = 0;  // the step sets its own fractions
  double downloadWeight = 1.0;
  double installWeight = 1.0;
  int requiredMegabytes = 0;
  int expectedInstallSeconds = 0;
  DownloadTiming download_timing;
};

// The plan of a step with nothing to download, only its licence text.
StepPlan StepWithLicence(const char* eulaText);

// The plan of a downloaded installer: `fileName` in `directory`, or in
// ".\prereq\" when a copy there (or in `directory`) is at hand already. The
// digests are known before the search, so a partial or stale file is never
// taken for a local copy when one is configured.
StepPlan DownloadedInstaller(const char* eulaText, const std::string& url,
                             const std::string& directory, const std::string& fileName,
                             const std::string& md5 = std::string(),
                             const std::string& sha256 = std::string(),
                             const std::string& signer = std::string());

}  // namespace engine
