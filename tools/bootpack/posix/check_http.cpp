#include "tools/bootpack/check_http.h"

#include <curl/curl.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"

namespace bootpack {
namespace {

// As the bootstrapper's own client follows them.
constexpr long kMaxRedirects = 30;

bool StartsWith(const char* line, size_t size, const char* prefix) {
  const size_t length = std::strlen(prefix);
  return size >= length && strncasecmp(line, prefix, length) == 0;
}

std::string Trimmed(const char* text, size_t size) {
  std::string value(text, size);
  const size_t first = value.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return value.substr(first, value.find_last_not_of(" \t\r\n") - first + 1);
}

struct Transfer {
  CURL* easy = nullptr;
  CheckObserver* observer = nullptr;
  uint32_t timeout_ms = 0;
  uint32_t last_news = 0;  // when a header line or body bytes last came
  bool timed_out = false;
  bool stopped = false;
  bool head_given = false;
  CheckResponseHead reading;  // the head of the response now arriving
  bool has_location = false;

  void GiveHead() {
    if (head_given) return;
    head_given = true;
    char* url = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url) {
      reading.final_url = url;
    }
    observer->OnHead(reading);
  }

  static size_t OnHeader(char* line, size_t size, size_t count, void* context) {
    Transfer* self = static_cast<Transfer*>(context);
    const size_t length = size * count;
    self->last_news = platform::TickCount();
    CheckResponseHead& head = self->reading;
    if (StartsWith(line, length, "HTTP/")) {
      const int redirects = head.redirects;
      head = CheckResponseHead();
      head.redirects = redirects;
      self->has_location = false;
      const char* blank = static_cast<const char*>(std::memchr(line, ' ', length));
      if (blank) head.status = std::atoi(blank + 1);
    } else if (StartsWith(line, length, "Content-Length:")) {
      head.has_length = true;
      head.length_digits = Trimmed(line + 15, length - 15);
    } else if (StartsWith(line, length, "Content-Type:")) {
      head.content_type = Trimmed(line + 13, length - 13);
    } else if (StartsWith(line, length, "Location:")) {
      self->has_location = !Trimmed(line + 9, length - 9).empty();
    } else if (Trimmed(line, length).empty()) {
      // An interim answer, or a redirect about to be followed, is not the
      // response asked about.
      const bool redirect = head.status >= 300 && head.status < 400 && self->has_location;
      if (redirect) ++head.redirects;
      if (head.status >= 200 && !redirect) self->GiveHead();
    }
    return length;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* context) {
    Transfer* self = static_cast<Transfer*>(context);
    const size_t length = size * count;
    self->last_news = platform::TickCount();
    self->GiveHead();
    if (!self->observer->OnBody(data, length)) {
      self->stopped = true;
      return 0;  // ends the transfer with a write error
    }
    return length;
  }

  // Called by libcurl at least once a second, and more often while data flows.
  static int OnProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    Transfer* self = static_cast<Transfer*>(context);
    if (platform::TickCount() - self->last_news >= self->timeout_ms) {
      self->timed_out = true;
      return 1;
    }
    return 0;
  }
};

TransferEnd EndFor(CURLcode code) {
  switch (code) {
    case CURLE_OK:
    case CURLE_PARTIAL_FILE:  // the bootstrapper, too, takes a closed connection as the end
      return TransferEnd::kComplete;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return TransferEnd::kNotResolved;
    case CURLE_COULDNT_CONNECT:
      return TransferEnd::kNotConnected;
    case CURLE_OPERATION_TIMEDOUT:
      return TransferEnd::kTimedOut;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      return TransferEnd::kBroken;
    default:
      return TransferEnd::kFailed;
  }
}

}  // namespace

TransferResult CheckTransfer(const CheckRequest& request, CheckObserver* observer) {
  static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  TransferResult result;
  CURL* easy = initialised ? curl_easy_init() : nullptr;
  if (!easy) {
    result.detail = "libcurl could not start";
    return result;
  }
  Transfer transfer;
  transfer.easy = easy;
  transfer.observer = observer;
  transfer.timeout_ms = request.timeout_ms;
  transfer.last_news = platform::TickCount();
  transfer.reading.redirects = 0;
  curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(easy, CURLOPT_USERAGENT, request.user_agent.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.timeout_ms));
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  char error_text[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_text);

  const CURLcode code = curl_easy_perform(easy);
  // A body that ended at once still has its head.
  if (code == CURLE_OK || code == CURLE_PARTIAL_FILE) transfer.GiveHead();
  if (transfer.stopped) {
    result.end = TransferEnd::kStopped;
  } else if (transfer.timed_out) {
    result.end = TransferEnd::kTimedOut;
  } else {
    result.end = EndFor(code);
    result.detail = error_text[0] ? error_text : curl_easy_strerror(code);
  }
  char* ip = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_PRIMARY_IP, &ip) == CURLE_OK && ip) result.address = ip;
  curl_easy_cleanup(easy);
  return result;
}

bool StderrIsTerminal() { return isatty(fileno(stderr)) == 1; }

}  // namespace bootpack
