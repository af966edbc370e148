#include "engine/downloader.h"

#include <cstdio>
#include <cstdlib>

#include "diagnostics/error_texts.h"
#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "engine/body_reader.h"
#include "engine/download_judge.h"
#include "engine/pipeline_signals.h"
#include "engine/run_context.h"
#include "engine/step_plan.h"
#include "engine/step_progress.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/signature.h"
#include "platform/system.h"

namespace engine {

namespace {

int Fail(diagnostics::EventSink& events, diagnostics::EventId id) {
  events.Post(id);
  return id;
}

int FailWithText(diagnostics::EventSink& events, const std::string& text) {
  PostErrorEvent(events, diagnostics::kHttpError, text);
  return diagnostics::kHttpError;
}

std::string ByteCounts(double received, double total) {
  return std::to_string(static_cast<unsigned long long>(received)) + " of " +
         std::to_string(static_cast<unsigned long long>(total)) + " bytes arrived.";
}

std::string ShortBodyText(double received, double total) {
  return "The download ended early: " + ByteCounts(received, total);
}

constexpr char kNotTheInstallerText[] = "The server sent something other than the installer.";

constexpr char kNoSha256Text[] =
    "This computer cannot compute SHA-256 digests (Windows XP can from its third service pack "
    "on), so the download cannot be verified.";

constexpr char kNoAnswerText[] = "The server stopped sending before its answer began.";
constexpr char kRefusedRedirectText[] =
    "The server redirected the download to an address that is not a plain http or https "
    "address.";

std::string StalledText(double received, double total) {
  return "The server stopped sending: " + ByteCounts(received, total);
}

// One attempt at one address.
struct Attempt {
  const StepPlan& plan;
  const std::string& url;
  StepProgress& progress;
  PipelineSignals& signals;
  diagnostics::EventSink& events;
  platform::Clock& clock;
};

// Lets AbortInstallation reach the download while it waits for the server.
class TransferRegistration {
 public:
  TransferRegistration(PipelineSignals& signals, platform::HttpDownload& download)
      : signals_(signals) {
    platform::LockGuard guard(signals_.transfer_lock);
    signals_.transfer = &download;
    // A cancel that came before the registration found nothing to end.
    if (signals_.abortFlag.load()) download.Cancel();
  }
  ~TransferRegistration() {
    platform::LockGuard guard(signals_.transfer_lock);
    signals_.transfer = nullptr;
  }
  TransferRegistration(const TransferRegistration&) = delete;
  TransferRegistration& operator=(const TransferRegistration&) = delete;

 private:
  PipelineSignals& signals_;
};

constexpr char kWrongRangeText[] =
    "The server resumed the download elsewhere than where it had broken.";

// The head of one request, judged as the first or as a resumed one; on a
// first head (or a 200 that starts over) `file` is opened afresh. 0, or the
// event posted.
int ReceiveHead(const Attempt& a, platform::HttpDownload& download, DownloadJudge& judge,
                bool resumed, platform::UniqueFile* file, std::string* final_url) {
  uint32_t error = 0;
  std::string response;
  if (!download.WaitForHead(&error, &response)) {
    if (a.signals.abortFlag.load()) return Fail(a.events, diagnostics::kDownloadTerminated);
    if (a.url.empty()) return FailWithText(a.events, "URL is blank.");
    if (download.stalled()) return FailWithText(a.events, kNoAnswerText);
    if (download.redirect_refused()) return FailWithText(a.events, kRefusedRedirectText);
    return FailWithText(a.events, !response.empty()
                                      ? response
                                      : diagnostics::DescribeHttpStatus(static_cast<int>(error)));
  }
  const platform::HttpHead& head = download.head();
  *final_url = head.final_url;
  const uint32_t now = a.clock.TickCount();
  switch (resumed ? judge.JudgeResumedHead(head, now) : judge.JudgeHead(head, now)) {
    case DownloadVerdict::kNotOk:
      return FailWithText(a.events, diagnostics::DescribeHttpStatus(head.status));
    case DownloadVerdict::kNoLength:
      return FailWithText(a.events,
                          "Failed to retrieve file size, possibly due to an invalid URL.");
    case DownloadVerdict::kWrongRange:
      return FailWithText(a.events, kWrongRangeText);
    case DownloadVerdict::kAccepted:
      if (resumed) {
        a.events.Post(diagnostics::kDownloadResumed);
        return 0;
      }
      break;
    default:  // kRestarted: the whole file again
      break;
  }
  a.progress.bytesTotal.store(static_cast<double>(judge.total()));
  file->reset();
  *file = platform::OpenFile(a.plan.localPath, "wb");
  if (!*file) return Fail(a.events, diagnostics::kFileCreationFailed);
  return 0;
}

// The body of one request into the file, as the judge takes it.
bool ReceiveBody(const Attempt& a, platform::HttpDownload& download, DownloadJudge& judge,
                 std::FILE* file) {
  const double total = static_cast<double>(judge.total());
  bool written = true;
  ReadBody(download, judge, a.clock, judge.total(), [&](const char* data, size_t size) {
    written = std::fwrite(data, 1, size, file) == size;
    if (!written) return false;
    a.progress.bytesReceived.store(static_cast<double>(judge.received()));
    StepProgress::Raise(a.progress.downloadFraction, a.progress.bytesReceived.load() / total);
    a.progress.Notify();
    return !a.signals.abortFlag.load();
  });
  return written;
}

// A file that must not be run goes, and with it what the system's cache keeps
// of the answer, under the address asked and the one it came from.
void DropFileAndCachedCopies(const Attempt& a, const std::string& final_url) {
  platform::RemoveFile(a.plan.localPath);
  platform::DropCachedCopy(a.url);
  if (final_url != a.url) platform::DropCachedCopy(final_url);
}

// Once the body has ended: the file kept (1) or the event posted.
int JudgeTheFile(const Attempt& a, DownloadJudge& judge, bool stalled, bool write_failed,
                 platform::UniqueFile file, const std::string& final_url) {
  // A full disk may show only when the buffered tail is written.
  if (file && std::fclose(file.release()) != 0) write_failed = true;
  const double total = static_cast<double>(judge.total());
  if (a.signals.abortFlag.load())
    return Fail(a.events, diagnostics::kDownloadTerminated);  // the partial file stays
  if (write_failed) {
    platform::RemoveFile(a.plan.localPath);
    return Fail(a.events, diagnostics::kFileCreationFailed);
  }
  const DownloadVerdict verdict = judge.JudgeBody();
  if (stalled || verdict == DownloadVerdict::kTrickled) {
    platform::RemoveFile(a.plan.localPath);
    return FailWithText(a.events, StalledText(a.progress.bytesReceived.load(), total));
  }
  switch (verdict) {
    case DownloadVerdict::kEndedEarly:
      // The connection ended before the announced length: never hand on a short file.
      platform::RemoveFile(a.plan.localPath);
      return FailWithText(a.events, ShortBodyText(a.progress.bytesReceived.load(), total));
    case DownloadVerdict::kDigestMismatch:
    case DownloadVerdict::kSha256Mismatch:
      DropFileAndCachedCopies(a, final_url);
      return Fail(a.events, verdict == DownloadVerdict::kDigestMismatch
                                ? diagnostics::kMd5CheckFailed
                                : diagnostics::kSha256CheckFailed);
    case DownloadVerdict::kNotTheInstaller:
      platform::RemoveFile(a.plan.localPath);
      return FailWithText(a.events, kNotTheInstallerText);
    default:
      return 1;
  }
}

// The longest a signature check may take: with its chain at hand it takes
// about half a second for 64 MiB under Wine.
constexpr uint32_t kSignatureDeadlineMs = 30000;

// A file that passed its digests, before anything runs it: it must carry the
// configured signer's signature, or it goes as a digest mismatch does.
int CheckSigner(const Attempt& a, const std::string& final_url) {
  if (a.plan.signer.empty()) return 1;
  const platform::SignatureVerdict verdict =
      platform::CheckSignature(a.plan.localPath, a.plan.signer, kSignatureDeadlineMs);
  if (verdict == platform::SignatureVerdict::kSignedBy) return 1;
  DropFileAndCachedCopies(a, final_url);
  return Fail(a.events, SignatureFailureEvent(verdict));
}

// A body that broke off (a reset, a short body, a stall, not a trickle) is
// asked for again from where it broke, when enough of it came and the first
// answer named its version as an If-Range can carry it, so a changed file
// cannot be pieced together.
bool WorthResuming(const DownloadJudge& judge, int resumes) {
  return resumes < kMostResumes && !judge.validator().empty() &&
         judge.received() >= kLeastResumedBytes && judge.broke_off();
}

int Transfer(const Attempt& a) {
  // Each address is an attempt of its own: bytes of an earlier, broken one
  // must not make a short body look whole.
  a.progress.bytesReceived.store(0.0);
  a.progress.bytesTotal.store(0.0);
  std::unique_ptr<platform::HttpSession> session =
      platform::HttpSession::Open(kDownloadUserAgent, kDownloadSession);
  if (!session) return Fail(a.events, diagnostics::kInternetSessionFailed);
  DownloadJudge judge(RulesFor(a.plan.verify_digest ? a.plan.md5 : std::string(), a.plan.sha256,
                               a.plan.leading_bytes, a.plan.download_timing.stall_limit_ms));
  if (!judge.can_verify()) {
    PostErrorEvent(a.events, diagnostics::kSystemError, kNoSha256Text);
    return diagnostics::kSystemError;
  }
  std::string final_url = a.url;
  platform::UniqueFile file;
  platform::HttpRange range;  // the whole file first
  for (int resumes = 0;; ++resumes) {
    std::unique_ptr<platform::HttpDownload> download = platform::HttpDownload::Start(
        *session, a.url, kDownloadRequest, a.plan.download_timing.stall_limit_ms, range);
    TransferRegistration registration(a.signals, *download);
    const int failure = ReceiveHead(a, *download, judge, range.from != 0, &file, &final_url);
    if (failure != 0) {
      // A resumed request that fails leaves nothing worth keeping either
      // (a cancel leaves the partial file, as it always does).
      if (file) {
        file.reset();
        if (!a.signals.abortFlag.load()) platform::RemoveFile(a.plan.localPath);
      }
      return failure;
    }
    const bool written = ReceiveBody(a, *download, judge, file.get());
    const bool stalled = download->stalled();
    if (written && !a.signals.abortFlag.load() && WorthResuming(judge, resumes)) {
      if (std::fflush(file.get()) == 0) {
        range = {judge.received(), judge.validator()};
        continue;
      }
    }
    int result = JudgeTheFile(a, judge, stalled, !written, std::move(file), final_url);
    if (result == 1) result = CheckSigner(a, final_url);
    if (result == 1) a.progress.downloadDone.Release();
    return result;
  }
}

}  // namespace

diagnostics::EventId SignatureFailureEvent(platform::SignatureVerdict verdict) {
  switch (verdict) {
    case platform::SignatureVerdict::kUnsigned:
      return diagnostics::kSignatureMissing;
    case platform::SignatureVerdict::kChanged:
      return diagnostics::kSignatureBroken;
    case platform::SignatureVerdict::kOtherSigner:
      return diagnostics::kSignatureOtherSigner;
    case platform::SignatureVerdict::kTimedOut:
      return diagnostics::kSignatureTimedOut;
    case platform::SignatureVerdict::kUnavailable:
      return diagnostics::kSignatureUnavailable;
    default:
      return diagnostics::kSignatureUntrusted;
  }
}

int HttpDownloader::Download(const StepPlan& plan, const std::string& url, StepProgress& progress,
                             const RunContext& context) {
  progress.phase = 1;
  if (context.signals.abortFlag.load())
    return Fail(context.events, diagnostics::kDownloadTerminated);
  if (plan.availableLocally) {
    progress.downloadDone.Release();
    context.events.Post(diagnostics::kLocalInstallerFound);
    return 1;
  }
  try {
    return Transfer({plan, url, progress, context.signals, context.events, context.clock});
  } catch (...) {
    return FailWithText(context.events, diagnostics::DescribeHttpStatus(
                                            static_cast<int>(platform::LastErrorCode())));
  }
}

}  // namespace engine
