// The installer download: the InstallStep's own Download.
#pragma once

#include <cstdint>

class InstallStep;

// The request every download makes (bootpack check makes the same): the
// user agent, the session flags (no cookies, no UI) and the request flags
// (existing connection, passive, keep connection, resynchronise).
constexpr char kDownloadUserAgent[] = "Brindle Bootstrapper";
constexpr unsigned kDownloadSessionFlags = 0x00080200;
constexpr unsigned kDownloadRequestFlags = 0x28400800;

// A server that keeps the transfer alive with a byte now and then never
// leaves it waiting a whole stall limit, yet would hold the download for days:
// each stall limit must bring at least this much, or the server has stalled.
constexpr double kLeastBytesPerStallLimit = 1024;

// The waits of a download. The product uses the defaults; tests shorten them.
struct DownloadTiming {
  // How long the server may keep the download waiting for its answer or for
  // the next bytes of the body before the attempt fails; each such span must
  // also bring at least 1 KiB of the body, or the server counts as stalled.
  uint32_t stallLimitMs = 60000;
};

// Fetches step.url into step.localPath. 1 on success, otherwise the event
// posted: 9058, 9061, 9052, 9062 or 9065.
int DownloadFile(InstallStep& step);
