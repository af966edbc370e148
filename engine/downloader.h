// The installer download: the InstallStep's own Download.
#pragma once

#include <cstdint>

#include "platform/http.h"

class InstallStep;

// The request every download makes (bootpack check makes the same): the
// user agent, a session that keeps no cookies and shows no UI, a request on
// an existing connection kept open, passive, that revalidates a cached copy.
constexpr char kDownloadUserAgent[] = "Brindle Bootstrapper";
constexpr platform::HttpSessionOptions kDownloadSession = {true, true};
constexpr platform::HttpRequestOptions kDownloadRequest = {true, true, true};

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
