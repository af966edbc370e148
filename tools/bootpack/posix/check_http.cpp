#include "tools/bootpack/check_http.h"

#include <curl/curl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/clock.h"
#include "platform/posix/curl_get.h"

namespace bootpack {
namespace {

struct Transfer {
  CURL* easy = nullptr;
  CheckObserver* observer = nullptr;
  uint32_t timeout_ms = 0;
  uint32_t last_news = 0;  // when a header line or body bytes last came
  bool timed_out = false;
  bool stopped = false;
  bool head_given = false;
  platform::ResponseHead reading;  // the head of the response now arriving
  int redirects = 0;               // followed so far

  void GiveHead() {
    if (head_given) return;
    head_given = true;
    CheckResponseHead head;
    head.status = reading.status;
    head.has_length = reading.has_length;
    head.length_digits = reading.length;
    head.content_type = reading.content_type;
    head.redirects = redirects;
    char* url = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url) {
      head.final_url = url;
    }
    observer->OnHead(head);
  }

  static size_t OnHeader(char* line, size_t size, size_t count, void* context) {
    Transfer* self = static_cast<Transfer*>(context);
    const size_t length = size * count;
    self->last_news = platform::TickCount();
    if (TakeHeaderLine(line, length, &self->reading)) {
      if (self->reading.IsRedirect()) ++self->redirects;
      if (self->reading.IsFinal()) self->GiveHead();
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
  platform::SetGetOptions(easy, request.url, request.user_agent, request.timeout_ms);
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
