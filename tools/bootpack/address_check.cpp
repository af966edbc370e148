#include "tools/bootpack/address_check.h"

#include <algorithm>
#include <cstdlib>

#include "components/agent_package_step.h"
#include "diagnostics/event_logger.h"
#include "diagnostics/report_sender.h"
#include "engine/downloader.h"
#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/md5.h"
#include "tools/bootpack/check_http.h"
#include "tools/bootpack/progress_bar.h"

namespace bootpack {
namespace {

// Enough of a body to tell an HTML page or a package signature.
constexpr size_t kLeadBytes = 4096;
// The token of the check's report, where the bootstrapper puts its run id.
constexpr char kCheckToken[] = "bootpack-check";
constexpr size_t kLongestTitle = 60;
constexpr int64_t kShortestRatedMs = 100;

std::string Seconds(uint32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, ms % 1000 ? "%.1f s" : "%.0f s", ms / 1000.0);
  return text;
}

std::string Plural(int64_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// Takes the head and as much of the body as the check needs, timing both.
class BodyProbe : public CheckObserver {
 public:
  BodyProbe(bool whole, uint32_t window_ms, ProgressBar* bar)
      : whole_(whole), window_ms_(window_ms), bar_(bar) {}

  void OnHead(const CheckResponseHead& head) override {
    head_ = head;
    has_head_ = true;
    head_tick_ = window_start_ = platform::TickCount();
    const std::string& digits = head.length_digits;
    length_ok_ =
        head.has_length && !digits.empty() && digits.size() <= 9 &&
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (length_ok_) length_ = std::strtoull(digits.c_str(), nullptr, 10);
    want_whole_ = whole_ && head.status == 200 && length_ok_;
  }

  bool OnBody(const char* data, size_t size) override {
    size_t take = size;
    // The bootstrapper keeps no byte past the announced length.
    if (length_ok_ && received_ + take > length_) take = static_cast<size_t>(length_ - received_);
    if (lead_.size() < kLeadBytes) lead_.append(data, std::min(take, kLeadBytes - lead_.size()));
    if (want_whole_) md5_.Update(data, take);
    received_ += take;
    end_tick_ = platform::TickCount();
    if (want_whole_) bar_->Update(received_, length_);
    if (length_ok_ && received_ >= length_) return false;  // the whole file is in
    // The bootstrapper's rule for a server that keeps a download barely alive.
    if (end_tick_ - window_start_ >= window_ms_) {
      if (received_ - window_from_ < kLeastBytesPerStallLimit) {
        trickled_ = true;
        return false;
      }
      window_start_ = end_tick_;
      window_from_ = received_;
    }
    return want_whole_ || lead_.size() < kLeadBytes;
  }

  bool has_head() const { return has_head_; }
  const CheckResponseHead& head() const { return head_; }
  uint32_t head_tick() const { return head_tick_; }
  uint32_t end_tick() const { return received_ ? end_tick_ : head_tick_; }
  bool length_ok() const { return length_ok_; }
  uint64_t length() const { return length_; }
  uint64_t received() const { return received_; }
  bool whole() const { return want_whole_; }
  bool trickled() const { return trickled_; }
  const std::string& lead() const { return lead_; }
  std::string Md5() { return md5_.HexDigest(); }

 private:
  const bool whole_;
  const uint32_t window_ms_;
  ProgressBar* bar_;
  CheckResponseHead head_;
  bool has_head_ = false;
  bool length_ok_ = false;
  bool want_whole_ = false;
  uint64_t length_ = 0;
  uint64_t received_ = 0;
  uint32_t head_tick_ = 0;
  uint32_t end_tick_ = 0;
  uint32_t window_start_ = 0;
  uint64_t window_from_ = 0;  // received_ when the window began
  bool trickled_ = false;
  std::string lead_;
  platform::Md5 md5_;
};

std::string NoAnswer(const TransferResult& transfer, uint32_t timeout_ms) {
  switch (transfer.end) {
    case TransferEnd::kNotResolved:
      return "the host name does not resolve";
    case TransferEnd::kNotConnected:
      return "the server accepts no connection";
    case TransferEnd::kTimedOut:
      return "no answer within " + Seconds(timeout_ms);
    case TransferEnd::kBroken:
      return "the connection ended without an answer";
    default:
      return "the request failed (" + transfer.detail + ")";
  }
}

std::string HtmlNote(const BodyProbe& probe) {
  std::string title;
  if (!LooksLikeHtml(probe.lead(), probe.head().content_type, &title)) return "";
  return title.empty() ? "an HTML page" : "an HTML page titled \"" + title + "\"";
}

void Fail(CheckResult* result, const std::string& reason) {
  result->verdict = Verdict::kError;
  result->reason = reason;
}

}  // namespace

bool LooksLikeHtml(const std::string& lead, const std::string& content_type, std::string* title) {
  title->clear();
  const std::string text = platform::AsciiLower(lead);
  size_t start = text.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;  // a UTF-8 byte order mark
  start = text.find_first_not_of(" \t\r\n", start);
  // An installer served as "text/html" is still the installer: the body decides.
  if (start == std::string::npos || text[start] != '<') return false;
  bool html = platform::AsciiLower(content_type).compare(0, 9, "text/html") == 0;
  for (const char* tag : {"<!doctype html", "<html", "<head", "<body", "<title"}) {
    if (text.find(tag, start) != std::string::npos) html = true;
  }
  if (!html) return false;
  const size_t open = text.find("<title");
  const size_t from = open == std::string::npos ? open : text.find('>', open);
  const size_t to = from == std::string::npos ? from : text.find("</title", from);
  if (to != std::string::npos) {
    for (size_t i = from + 1; i < to && title->size() < kLongestTitle; ++i) {
      const char c = lead[i];
      const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
      if (blank && (title->empty() || title->back() == ' ')) continue;
      if (static_cast<unsigned char>(c) >= 0x20 || blank) title->push_back(blank ? ' ' : c);
    }
    while (!title->empty() && title->back() == ' ') title->pop_back();
  }
  return true;
}

CheckResult CheckDownload(const DownloadToCheck& download, const CheckOptions& options) {
  CheckResult result;
  result.name = download.name;
  result.target = download.url;
  if (download.url.empty()) {
    result.verdict = download.empty_is_error ? Verdict::kError : Verdict::kWarning;
    result.reason = download.if_empty;
    return result;
  }
  ProgressBar bar(options.progress, options.progress != nullptr, download.name);
  BodyProbe probe(options.download, options.timeout_ms, &bar);
  CheckRequest request;
  request.url = download.url;
  request.user_agent = kDownloadUserAgent;
  request.session_flags = kDownloadSessionFlags;
  request.request_flags = kDownloadRequestFlags;
  request.timeout_ms = options.timeout_ms;
  const uint32_t start = platform::TickCount();
  const TransferResult transfer = CheckTransfer(request, &probe);
  bar.Finish();
  result.address = transfer.address;
  if (!probe.has_head()) {
    Fail(&result, NoAnswer(transfer, options.timeout_ms));
    return result;
  }
  const CheckResponseHead& head = probe.head();
  result.status = head.status;
  result.first_byte_ms = probe.head_tick() - start;
  result.redirects = head.redirects;
  if (head.final_url != download.url) result.final_url = head.final_url;
  std::string said;  // what the answer was, before the verdict on it
  if (head.redirects > 0 && !head.final_url.empty()) {
    said = "redirected " + Plural(head.redirects, "time") + " to " + head.final_url + "; ";
  }
  const std::string html = HtmlNote(probe);
  if (head.status != 200) {
    Fail(&result, said + "status " + std::to_string(head.status) +
                      (html.empty() ? "" : " with " + html) + "; the bootstrapper takes only 200");
    return result;
  }
  if (!probe.length_ok()) {
    Fail(&result, said +
                      (head.has_length ? "a Content-Length it cannot read (\"" +
                                             head.length_digits + "\", at most 9 digits)"
                                       : "no Content-Length") +
                      ": the bootstrapper refuses a download of unknown size");
    return result;
  }
  result.length = static_cast<int64_t>(probe.length());
  result.received = static_cast<int64_t>(probe.received());
  result.transfer_ms = probe.end_tick() - probe.head_tick();
  result.bytes_per_second = probe.received() * 1000.0 / std::max<int64_t>(1, result.transfer_ms);
  said += "status 200, " + FormatBytes(static_cast<double>(probe.length())) + " (" +
          std::to_string(probe.length()) + " bytes), first byte after " +
          std::to_string(result.first_byte_ms) + " ms";

  const uint64_t wanted =
      probe.whole() ? probe.length() : std::min<uint64_t>(probe.length(), kLeadBytes);
  if (probe.received() < wanted) {
    const std::string counts =
        std::to_string(probe.received()) + " of " + std::to_string(probe.length()) + " bytes";
    if (probe.trickled()) {
      Fail(&result, said + "; the server trickles (less than 1 KiB in " +
                        Seconds(options.timeout_ms) + ") after " + counts +
                        ": the bootstrapper gives up");
      return result;
    }
    switch (transfer.end) {
      case TransferEnd::kTimedOut:
        Fail(&result, said + "; the server stopped sending after " + counts + " (nothing for " +
                          Seconds(options.timeout_ms) + ")");
        break;
      case TransferEnd::kComplete:
        Fail(&result,
             said + "; the body ended after " + counts + ": the bootstrapper rejects a short file");
        break;
      default:
        Fail(&result, said + "; the connection broke after " + counts);
    }
    return result;
  }
  if (!html.empty()) {
    Fail(&result, said + "; the body is " + html + ", not the installer");
    return result;
  }
  if (probe.whole()) {
    result.md5 = probe.Md5();
    // A rate taken over a few ticks of the clock says nothing.
    said += result.transfer_ms < kShortestRatedMs
                ? ", the body in " + std::to_string(result.transfer_ms) + " ms"
                : ", " + FormatBytes(result.bytes_per_second) + "/s";
  }
  if (download.expected == ExpectedFile::kAgentPackage) {
    const std::string signature = MsiSignature();
    if (probe.lead().compare(0, signature.size(), signature) != 0) {
      Fail(&result, said + "; not a Windows Installer package (no compound-file signature)");
      return result;
    }
    result.reason = said + ", a Windows Installer package";
    return result;
  }
  if (!probe.whole()) {
    result.reason = said + "; body not downloaded, MD5 not compared";
  } else if (download.md5_key.empty()) {
    result.verdict = Verdict::kWarning;
    result.reason = said + "; no MD5 key is configured, so the file is not verified (its MD5 is " +
                    result.md5 + ")";
  } else if (result.md5 != download.md5_key) {
    Fail(&result, said + "; MD5 " + result.md5 + " differs from the configured " +
                      download.md5_key + ": the bootstrapper deletes the file");
  } else {
    result.reason = said + ", MD5 matches";
  }
  return result;
}

std::string CheckReportRecord() {
  return "EVENTID='0',DESC='A test report from bootpack check, not from a player',TIMESTAMP='" +
         FormatTimestamp() + "'";
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
  ProgressBar no_bar(nullptr, false, "");
  BodyProbe probe(false, options.timeout_ms, &no_bar);
  CheckRequest request;
  const std::string port = std::to_string(options.log_server_port);
  request.url =
      "http://" + host + ":" + port + "/" + ReportObjectName(kCheckToken, CheckReportRecord());
  request.user_agent = kReportUserAgent;
  request.timeout_ms = options.timeout_ms;
  const uint32_t start = platform::TickCount();
  const TransferResult transfer = CheckTransfer(request, &probe);
  result.address = transfer.address;
  if (!probe.has_head()) {
    switch (transfer.end) {
      case TransferEnd::kNotResolved:
        Fail(&result, "the name does not resolve: no report can reach it");
        break;
      case TransferEnd::kNotConnected:
        Fail(&result, "port " + port + " accepts no connection" +
                          (transfer.address.empty() ? "" : " at " + transfer.address));
        break;
      default:
        Fail(&result, "a test report got " + NoAnswer(transfer, options.timeout_ms));
    }
    return result;
  }
  result.status = probe.head().status;
  result.first_byte_ms = probe.head_tick() - start;
  result.reason = (transfer.address.empty() ? "resolves" : "resolves to " + transfer.address) +
                  ", port " + port + " accepts a connection, a test report was answered (status " +
                  std::to_string(result.status) + ") after " +
                  std::to_string(result.first_byte_ms) + " ms";
  return result;
}

}  // namespace bootpack
