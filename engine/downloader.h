// The installer download: a step's file fetched over HTTP as DownloadJudge
// says the bootstrapper accepts it.
#pragma once

#include <string>

#include "diagnostics/event_catalog.h"
#include "engine/step_services.h"
#include "platform/http.h"
#include "platform/signature.h"

namespace engine {

// The request every download makes (bootpack check makes the same): the
// user agent, a session that keeps no cookies and shows no UI, a request on
// an existing connection kept open, passive, that revalidates a cached copy.
constexpr char kDownloadUserAgent[] = "Brindle Bootstrapper";
constexpr platform::HttpSessionOptions kDownloadSession = {true, true};
constexpr platform::HttpRequestOptions kDownloadRequest = {true, true, true};

// The event of a file that failed its signature check (9068 to 9073).
diagnostics::EventId SignatureFailureEvent(platform::SignatureVerdict verdict);

class HttpDownloader : public Downloader {
 public:
  // 1 on success (or a copy at hand, 9066), otherwise the event posted:
  // 9058, 9059 (no SHA-256 here), 9061, 9052, 9062, 9065, 9067 or a signature's
  // 9068 to 9073.
  int Download(const StepPlan& plan, const std::string& url, StepProgress& progress,
               const RunContext& context) override;
};

}  // namespace engine
