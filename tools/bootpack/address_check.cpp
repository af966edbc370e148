#include "tools/bootpack/address_check.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "diagnostics/error_texts.h"
#include "diagnostics/event_record.h"
#include "diagnostics/report_sender.h"
#include "engine/body_reader.h"
#include "engine/download_judge.h"
#include "engine/downloader.h"
#include "engine/html_page.h"
#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/signature.h"
#include "tools/common/progress_bar.h"

namespace bootpack {

using tools::FormatBytes;
using tools::ProgressBar;
namespace {

// The token of the check's report, where the bootstrapper puts its run id.
constexpr char kCheckToken[] = "bootpack-check";
constexpr int64_t kShortestRatedMs = 100;

std::string Seconds(uint32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, ms % 1000 ? "%.1f s" : "%.0f s", ms / 1000.0);
  return text;
}

std::string Plural(int64_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// A download as the bootstrapper makes it, judged as it judges, taking as
// much of the body as the check needs and timing the head and the body.
class Probe {
 public:
  // `keep`, when given, takes the file's bytes as the judge takes them.
  Probe(const engine::DownloadRules& rules, bool whole, std::FILE* keep = nullptr)
      : judge_(rules),
        other_(engine::RulesFor("", "", "", rules.stall_limit_ms)),  // only its first bytes
        whole_(whole),
        keep_(keep) {}

  // False when no head came; `error` then says why.
  bool Fetch(const std::string& url, uint32_t timeout_ms, ProgressBar* bar, uint32_t* error) {
    std::unique_ptr<platform::HttpSession> session =
        platform::HttpSession::Open(engine::kDownloadUserAgent, engine::kDownloadSession);
    if (!session) {
      *error = platform::http_error::kInternal;
      return false;
    }
    start_tick_ = platform::TickCount();
    std::unique_ptr<platform::HttpDownload> download =
        platform::HttpDownload::Start(*session, url, engine::kDownloadRequest, timeout_ms);
    std::string response_text;
    if (!download->WaitForHead(error, &response_text)) {
      stalled_ = download->stalled();
      redirect_refused_ = download->redirect_refused();
      return false;
    }
    head_ = download->head();
    head_tick_ = end_tick_ = platform::TickCount();
    accepted_ = judge_.JudgeHead(head_, head_tick_) == engine::DownloadVerdict::kAccepted;
    // The bootstrapper reads no more of a body it refuses; its first bytes,
    // taken as a body of their own, say what it is.
    if (!accepted_) other_.JudgeHead(200, true, std::to_string(engine::kLeadBytes), head_tick_);
    engine::DownloadJudge& judge = accepted_ ? judge_ : other_;
    // Past the first bytes, only a whole download reads on.
    const engine::BodyEnd end = engine::ReadBody(*download, judge, platform::SystemClock(),
                                                 whole() ? judge.total() : engine::kLeadBytes,
                                                 [&](const char* data, size_t size) {
                                                   end_tick_ = platform::TickCount();
                                                   if (keep_ && accepted_)
                                                     std::fwrite(data, 1, size, keep_);
                                                   if (whole())
                                                     bar->Update(judge_.received(), judge_.total());
                                                   return true;
                                                 });
    ended_ = end == engine::BodyEnd::kEnded;
    stalled_ = download->stalled();
    verdict_ = judge_.JudgeBody();
    return true;
  }

  const platform::HttpHead& head() const { return head_; }
  bool accepted() const { return accepted_; }
  bool whole() const { return whole_ && accepted_; }
  engine::DownloadJudge& judge() { return judge_; }
  engine::DownloadVerdict verdict() const { return verdict_; }
  const std::string& lead() const { return accepted_ ? judge_.lead() : other_.lead(); }
  bool stalled() const { return stalled_; }
  bool redirect_refused() const { return redirect_refused_; }
  bool ended() const { return ended_; }
  uint32_t first_byte_ms() const { return head_tick_ - start_tick_; }
  uint32_t transfer_ms() const { return end_tick_ - head_tick_; }

 private:
  engine::DownloadJudge judge_;
  engine::DownloadJudge other_;  // the first bytes of a body the bootstrapper does not take
  const bool whole_;
  std::FILE* const keep_;
  platform::HttpHead head_;
  bool accepted_ = false;
  engine::DownloadVerdict verdict_ = engine::DownloadVerdict::kEndedEarly;
  bool stalled_ = false;
  bool redirect_refused_ = false;
  bool ended_ = false;
  uint32_t start_tick_ = 0;
  uint32_t head_tick_ = 0;
  uint32_t end_tick_ = 0;
};

std::string HtmlNote(Probe& probe) {
  std::string title;
  if (!engine::LooksLikeHtml(probe.lead(), probe.head().content_type, &title)) return "";
  return title.empty() ? "an HTML page" : "an HTML page titled \"" + title + "\"";
}

// Removes a file the check kept, whichever way the check ends.
struct RemovedAtEnd {
  std::string path;  // empty: none
  ~RemovedAtEnd() {
    if (!path.empty()) platform::RemoveFile(path);
  }
};

void Fail(CheckResult* result, const std::string& reason) {
  result->verdict = Verdict::kError;
  result->reason = reason;
}

// The download judged as the bootstrapper judges it; `first` gets its answer's head.
CheckResult FetchAndJudge(const components::PlannedDownload& download, const CheckOptions& options,
                          platform::HttpHead* first) {
  CheckResult result;
  result.name = download.name;
  result.target = download.url;
  if (download.url.empty()) {
    // Without a primary every player waits for it to fail first, without a
    // secondary nothing is left when the primary fails; the agent has one.
    const bool agent = !download.leading_bytes.empty();
    result.verdict = agent ? Verdict::kError : Verdict::kWarning;
    result.reason = agent ? "not set: the agent package cannot be downloaded"
                    : download.primary
                        ? "not set: every player waits for this download to fail first"
                        : "not set: nothing to fall back to when the primary fails";
    return result;
  }
  // A player's first run finds nothing cached for the address; neither may
  // the check, or it would judge an earlier answer instead of the server's.
  platform::DropCachedCopy(download.url);
  ProgressBar bar(options.progress, options.progress != nullptr, download.name);
  engine::DownloadRules rules =
      engine::RulesFor(download.md5, options.download ? download.sha256 : std::string(),
                       download.leading_bytes, options.timeout_ms);
  rules.digest_wanted = options.download;
  // A signer is checked on the file itself, kept where the bootstrapper keeps its own.
  const bool keep = options.download && !download.signer.empty();
  const std::string kept_path = platform::TempFolder() + "bootpack-check-" + download.name;
  platform::UniqueFile kept = keep ? platform::OpenFile(kept_path, "wb") : platform::UniqueFile();
  const RemovedAtEnd kept_goes{kept ? kept_path : std::string()};
  Probe probe(rules, options.download, kept.get());
  uint32_t error = 0;
  const bool answered = probe.Fetch(download.url, options.timeout_ms, &bar, &error);
  bar.Finish();
  // Nor does the check leave a copy behind for the next one.
  platform::DropCachedCopy(download.url);
  if (!answered) {
    Fail(&result, probe.redirect_refused()
                      ? "a redirect to an address that is not a plain http or https address: "
                        "the bootstrapper does not follow it"
                      : NoAnswerReason(error, probe.stalled(), options.timeout_ms));
    return result;
  }
  const platform::HttpHead& head = probe.head();
  *first = head;
  result.address = head.remote_address;
  result.status = head.status;
  result.first_byte_ms = probe.first_byte_ms();
  result.redirects = head.redirects;
  if (head.final_url != download.url) result.final_url = head.final_url;
  std::string said;  // what the answer was, before the verdict on it
  if (head.redirects > 0) {
    said = "redirected " + Plural(head.redirects, "time") + " to " + head.final_url + "; ";
  }
  const std::string html = HtmlNote(probe);
  if (head.status != 200) {
    Fail(&result, said + "status " + std::to_string(head.status) +
                      (html.empty() ? "" : " with " + html) + "; the bootstrapper takes only 200");
    return result;
  }
  if (!probe.accepted()) {
    Fail(&result, said +
                      (head.has_length
                           ? "a Content-Length it cannot read (\"" + head.length + "\", at most " +
                                 std::to_string(engine::kLongestLength) + " digits)"
                           : "no Content-Length") +
                      ": the bootstrapper refuses a download of unknown size");
    return result;
  }
  engine::DownloadJudge& judge = probe.judge();
  result.length = static_cast<int64_t>(judge.total());
  result.received = static_cast<int64_t>(judge.received());
  result.transfer_ms = probe.transfer_ms();
  result.bytes_per_second = judge.received() * 1000.0 / std::max<int64_t>(1, result.transfer_ms);
  said += "status 200, " + FormatBytes(static_cast<double>(judge.total())) + " (" +
          std::to_string(judge.total()) + " bytes), first byte after " +
          std::to_string(result.first_byte_ms) + " ms";

  const uint64_t wanted =
      probe.whole() ? judge.total() : std::min<uint64_t>(judge.total(), engine::kLeadBytes);
  if (judge.received() < wanted) {
    const std::string counts =
        std::to_string(judge.received()) + " of " + std::to_string(judge.total()) + " bytes";
    if (probe.verdict() == engine::DownloadVerdict::kTrickled) {
      Fail(&result, said + "; the server trickles (less than 1 KiB in " +
                        Seconds(options.timeout_ms) + ") after " + counts +
                        ": the bootstrapper gives up");
    } else if (probe.stalled()) {
      Fail(&result, said + "; the server stopped sending after " + counts + " (nothing for " +
                        Seconds(options.timeout_ms) + ")");
    } else if (probe.ended()) {
      Fail(&result,
           said + "; the body ended after " + counts + ": the bootstrapper rejects a short file");
    } else {
      Fail(&result, said + "; the connection broke after " + counts);
    }
    return result;
  }
  if (!html.empty()) {
    Fail(&result, said + "; the body is " + html + ", not the installer");
    return result;
  }
  if (probe.whole()) {
    result.md5 = judge.md5();
    // A rate taken over a few ticks of the clock says nothing.
    said += result.transfer_ms < kShortestRatedMs
                ? ", the body in " + std::to_string(result.transfer_ms) + " ms"
                : ", " + FormatBytes(result.bytes_per_second) + "/s";
  }
  const bool agent = !download.leading_bytes.empty();  // no MD5 guards the package
  const bool sha256 = !download.sha256.empty();
  if (agent) {
    if (judge.lead().compare(0, download.leading_bytes.size(), download.leading_bytes) != 0) {
      Fail(&result, said + "; not a Windows Installer package (no compound-file signature)");
      return result;
    }
    said += ", a Windows Installer package";
    if (!sha256 && !kept) {
      result.reason = said;
      return result;
    }
  }
  if (!probe.whole()) {
    result.reason = said + "; body not downloaded, " +
                    (agent    ? "SHA-256"
                     : sha256 ? "MD5 and SHA-256"
                              : "MD5") +
                    " not compared";
    return result;
  }
  if (!agent && download.md5.empty() && !sha256 && download.signer.empty()) {
    result.verdict = Verdict::kWarning;
    result.reason = said + "; no MD5 key is configured, so the file is not verified (its MD5 is " +
                    result.md5 + ")";
    return result;
  }
  if (probe.verdict() == engine::DownloadVerdict::kDigestMismatch) {
    Fail(&result, said + "; MD5 " + result.md5 + " differs from the configured " + download.md5 +
                      ": the bootstrapper deletes the file");
    return result;
  }
  if (!download.md5.empty()) said += ", MD5 matches";
  if (probe.verdict() == engine::DownloadVerdict::kSha256Mismatch) {
    Fail(&result, said + "; SHA-256 " + judge.sha256() + " differs from the configured " +
                      download.sha256 + ": the bootstrapper deletes the file");
    return result;
  }
  if (sha256) said += ", SHA-256 matches";
  if (kept) {
    kept.reset();
    const platform::SignatureVerdict verdict =
        platform::CheckSignature(kept_path, download.signer, options.timeout_ms);
    if (verdict == platform::SignatureVerdict::kUnavailable) {
      result.verdict = Verdict::kWarning;
      said += "; the signer is not checked here (bootpack.exe on Windows checks it)";
    } else if (verdict != platform::SignatureVerdict::kSignedBy) {
      Fail(&result,
           said + "; " +
               diagnostics::EventCatalog::Describe(engine::SignatureFailureEvent(verdict)) +
               " The bootstrapper deletes the file");
      return result;
    } else {
      said += ", signed by " + download.signer;
    }
  }
  result.reason = said;
  return result;
}

// Whether a transfer that broke halfway would go on from there: the second
// half asked for as the bootstrapper asks for the rest of a file.
std::string ResumeNote(const std::string& url, uint64_t length, const platform::HttpHead& first,
                       const CheckOptions& options, int* resumes) {
  *resumes = 0;
  const std::string validator = engine::ResumeValidator(first.etag, first.last_modified);
  const char kStartsOver[] = "; a broken transfer starts over (";
  if (validator.empty())
    return kStartsOver +
           std::string(
               "the answer names no ETag or Last-Modified that a ranged request can carry)");
  std::unique_ptr<platform::HttpSession> session =
      platform::HttpSession::Open(engine::kDownloadUserAgent, engine::kDownloadSession);
  if (!session) return kStartsOver + std::string("no session for a ranged request)");
  const uint64_t from = length / 2;
  platform::DropCachedCopy(url);
  std::unique_ptr<platform::HttpDownload> download = platform::HttpDownload::Start(
      *session, url, engine::kDownloadRequest, options.timeout_ms, {from, validator});
  uint32_t error = 0;
  std::string response_text;
  std::string note;
  if (!download->WaitForHead(&error, &response_text)) {
    note = kStartsOver + std::string("a ranged request got no answer)");
  } else if (download->head().status != 206) {
    note = kStartsOver +
           ("a ranged request got status " + std::to_string(download->head().status) + ")");
  } else if (!engine::ContinuesFrom(download->head().content_range, from, length)) {
    note = kStartsOver +
           ("a ranged request got another part: \"" + download->head().content_range + "\")");
  } else if (!engine::ContinuesVersion(download->head(), first.etag, first.last_modified, from,
                                       length)) {
    note = kStartsOver + std::string("a ranged request got the rest of another version)");
  } else {
    *resumes = 1;
    note = "; a broken transfer resumes (a ranged request got 206)";
  }
  download.reset();
  platform::DropCachedCopy(url);
  return note;
}

}  // namespace

std::string NoAnswerReason(uint32_t error, bool stalled, uint32_t timeout_ms) {
  namespace http_error = platform::http_error;
  if (stalled || error == http_error::kTimeout || error == http_error::kSocketTimeout) {
    return "no answer within " + Seconds(timeout_ms);
  }
  switch (error) {
    case http_error::kNameNotResolved:
      return "the host name does not resolve";
    case http_error::kCannotConnect:
      return "the server accepts no connection";
    case http_error::kConnectionAborted:
    case http_error::kConnectionReset:
    case http_error::kInvalidServerResponse:
      return "the connection ended without an answer";
    case http_error::kCertificateExpired:
    case http_error::kCertificateWrongName:
    case http_error::kCertificateUntrusted:
    case http_error::kCertificateErrors:
    case http_error::kCertificateRevocationFailed:
      return diagnostics::DescribeHttpStatus(static_cast<int>(error));
    default:
      return "the request failed (error " + std::to_string(error) + ")";
  }
}

CheckResult CheckDownload(const components::PlannedDownload& download,
                          const CheckOptions& options) {
  platform::HttpHead first;
  CheckResult result = FetchAndJudge(download, options, &first);
  if (result.verdict == Verdict::kError || result.length < 2) return result;
  const std::string& address = result.final_url.empty() ? download.url : result.final_url;
  result.https = platform::AsciiLower(address.substr(0, 8)) == "https://";
  result.reason += result.https ? ", over https" : ", over plain http";
  result.reason += ResumeNote(download.url, static_cast<uint64_t>(result.length), first, options,
                              &result.resumes);
  return result;
}

std::string CheckReportRecord() {
  diagnostics::EventRecord record;
  record.event_id = 0;
  record.description = "A test report from bootpack check, not from a player";
  record.timestamp = diagnostics::FormatTimestamp();
  return FormatEventRecord(record);
}

CheckResult CheckLogServer(const std::string& host, const CheckOptions& options) {
  CheckResult result;
  result.name = "logserver";
  result.target = host;
  if (host.empty()) {
    result.verdict = Verdict::kWarning;
    result.reason = "not set: the bootstrapper sends no reports";
    return result;
  }
  // The bootstrapper takes the whole value as the host's name; a scheme, a
  // port or a path makes a name that reaches no server.
  if (host.find_first_of(":/ \t?#@") != std::string::npos) {
    Fail(&result, "not a bare host name: no report can reach it");
    return result;
  }
  // The report goes as the bootstrapper's sender sends one.
  const std::string port = std::to_string(options.log_server_port);
  std::unique_ptr<platform::HttpSession> session =
      platform::HttpSession::Open(diagnostics::kReportUserAgent);
  std::unique_ptr<platform::HttpConnection> connection =
      session ? platform::HttpConnection::Connect(*session, host, options.log_server_port,
                                                  options.timeout_ms)
              : nullptr;
  if (!connection) {
    Fail(&result, "the internet session could not be opened");
    return result;
  }
  platform::HttpAnswer answer;
  const uint32_t start = platform::TickCount();
  const bool answered = connection->SendGet(
      diagnostics::FormatReportTarget(kCheckToken, CheckReportRecord()), &answer);
  const uint32_t elapsed = platform::TickCount() - start;
  result.address = answer.remote_address;
  if (!answered) {
    switch (answer.error) {
      case platform::http_error::kNameNotResolved:
        Fail(&result, "the name does not resolve: no report can reach it");
        break;
      case platform::http_error::kCannotConnect:
        Fail(&result, "port " + port + " accepts no connection" +
                          (answer.remote_address.empty() ? "" : " at " + answer.remote_address));
        break;
      default:
        Fail(&result,
             "a test report got " + NoAnswerReason(answer.error, false, options.timeout_ms));
    }
    return result;
  }
  result.status = answer.status;
  result.first_byte_ms = elapsed;
  result.reason =
      (answer.remote_address.empty() ? "resolves" : "resolves to " + answer.remote_address) +
      ", port " + port + " accepts a connection, a test report was answered (status " +
      std::to_string(result.status) + ") after " + std::to_string(result.first_byte_ms) + " ms";
  return result;
}

}  // namespace bootpack
