#include "engine/downloader.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "diagnostics/error_texts.h"
#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
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

// What one request of an attempt brought: the whole file, or its rest from
// where an earlier request's body broke.
struct Received {
  int failure = 0;            // the event posted; 0 when the body was read
  bool write_failed = false;  // the file could not take the bytes
};

// The head of one request, judged as the first or as a resumed one; on a
// first head (or a 200 that starts over) `file` is opened afresh and
// `validator` taken from it. 0, or the event posted.
int ReceiveHead(const Attempt& a, platform::HttpDownload& download, DownloadJudge& judge,
                bool resumed, platform::UniqueFile* file, std::string* validator,
                std::string* final_url) {
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
  const uint32_t now = platform::TickCount();
  switch (resumed ? judge.JudgeResumedHead(head.status, head.content_range, head.has_length,
                                           head.length, now)
                  : judge.JudgeHead(head.status, head.has_length, head.length, now)) {
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
  *validator = !head.etag.empty() ? head.etag : head.last_modified;
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
  std::vector<char> buffer;
  bool more = !judge.whole();
  while (more) {
    uint32_t available = 0;
    if (!download.QueryAvailable(&available) || a.signals.abortFlag.load() || available == 0) {
      break;
    }
    buffer.resize(available);
    uint32_t got = 0;
    if (!download.Read(buffer.data(), available, &got)) break;
    if (got == 0) continue;
    const size_t kept = judge.Fits(got);
    if (std::fwrite(buffer.data(), 1, kept, file) != kept) return false;
    more = judge.Add(buffer.data(), kept, platform::TickCount());
    a.progress.bytesReceived.store(static_cast<double>(judge.received()));
    StepProgress::Raise(a.progress.downloadFraction, a.progress.bytesReceived.load() / total);
    a.progress.Notify();
  }
  return true;
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
// answer named its version, so a changed file cannot be pieced together.
bool WorthResuming(const DownloadJudge& judge, const std::string& validator, int resumes) {
  return resumes < kMostResumes && !validator.empty() && judge.received() >= kLeastResumedBytes &&
         judge.broke_off();
}

int Transfer(const Attempt& a) {
  // Each address is an attempt of its own: bytes of an earlier, broken one
  // must not make a short body look whole.
  a.progress.bytesReceived.store(0.0);
  a.progress.bytesTotal.store(0.0);
  std::unique_ptr<platform::HttpSession> session =
      platform::HttpSession::Open(kDownloadUserAgent, kDownloadSession);
  if (!session) return Fail(a.events, diagnostics::kInternetSessionFailed);
  DownloadRules rules;
  if (a.plan.verify_digest) rules.md5 = a.plan.md5;
  rules.sha256 = a.plan.sha256;
  rules.leading_bytes = a.plan.leading_bytes;
  rules.stall_limit_ms = a.plan.download_timing.stall_limit_ms;
  DownloadJudge judge(rules);
  if (!judge.can_verify()) {
    PostErrorEvent(a.events, diagnostics::kSystemError, kNoSha256Text);
    return diagnostics::kSystemError;
  }
  std::string final_url = a.url;
  std::string validator;
  platform::UniqueFile file;
  platform::HttpRange range;  // the whole file first
  for (int resumes = 0;; ++resumes) {
    std::unique_ptr<platform::HttpDownload> download = platform::HttpDownload::Start(
        *session, a.url, kDownloadRequest, a.plan.download_timing.stall_limit_ms, range);
    TransferRegistration registration(a.signals, *download);
    const int failure =
        ReceiveHead(a, *download, judge, range.from != 0, &file, &validator, &final_url);
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
    if (written && !a.signals.abortFlag.load() && WorthResuming(judge, validator, resumes)) {
      if (std::fflush(file.get()) == 0) {
        range = {judge.received(), validator};
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
    return Transfer({plan, url, progress, context.signals, context.events});
  } catch (...) {
    return FailWithText(context.events, diagnostics::DescribeHttpStatus(
                                            static_cast<int>(platform::LastErrorCode())));
  }
}

}  // namespace engine
