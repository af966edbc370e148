#include "platform/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/posix/curl_get.h"

namespace platform {
namespace {

void InitCurlOnce() {
  static const bool kInitialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  (void)kInitialised;
}

// WinINet's numbers for libcurl's failures, so callers describe them alike.
uint32_t WinInetErrorFor(CURLcode result) {
  switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return http_error::kNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return http_error::kCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return http_error::kTimeout;
    case CURLE_URL_MALFORMAT:
      return http_error::kInvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return http_error::kUnrecognizedScheme;
    case CURLE_TOO_MANY_REDIRECTS:
      return http_error::kRedirectFailed;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_GOT_NOTHING:
      return http_error::kInvalidServerResponse;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
      return http_error::kConnectionAborted;
    default:
      return http_error::kInternal;
  }
}

// WinINet's number for a certificate libcurl refused, from OpenSSL's verdict
// (libcurl checks the host's name itself: a wrong name leaves the verdict at
// 0 or "unspecified").
uint32_t CertificateError(long openssl_check) {
  switch (openssl_check) {
    case 9:   // X509_V_ERR_CERT_NOT_YET_VALID
    case 10:  // X509_V_ERR_CERT_HAS_EXPIRED
      return http_error::kCertificateExpired;
    case 0:
    case 1:   // X509_V_ERR_UNSPECIFIED
    case 62:  // X509_V_ERR_HOSTNAME_MISMATCH
      return http_error::kCertificateWrongName;
    default:
      return http_error::kCertificateUntrusted;
  }
}

// The answer of a report: its head is taken, its body is not read (the first
// byte of it ends the transfer, as WinINet hands back the head alone).
struct ReportAnswer {
  ResponseHead head;
  bool head_in = false;

  static size_t OnHeader(char* line, size_t size, size_t count, void* context) {
    ReportAnswer* answer = static_cast<ReportAnswer*>(context);
    if (TakeHeaderLine(line, size * count, &answer->head) && answer->head.IsFinal()) {
      answer->head_in = true;
    }
    return size * count;
  }
  static size_t OnBody(char*, size_t, size_t, void*) { return 0; }
};

}  // namespace

struct HttpSession::Native {
  std::string user_agent;
};

std::unique_ptr<HttpSession> HttpSession::Open(const std::string& user_agent,
                                               const HttpSessionOptions&) {
  InitCurlOnce();
  Native* native = new Native;
  native->user_agent = user_agent;
  return std::unique_ptr<HttpSession>(new HttpSession(native));
}

void HttpSession::Releaser::operator()(Native* native) const { delete native; }

HttpSession::~HttpSession() = default;

struct HttpConnection::Native {
  // One easy handle for every request: libcurl keeps its connection open
  // between them when the server allows it.
  CURL* easy = nullptr;
  std::string base_url;
  std::string user_agent;
  long timeout_ms = 0;
};

std::unique_ptr<HttpConnection> HttpConnection::Connect(HttpSession& session,
                                                        const std::string& host, int port,
                                                        uint32_t timeout_ms) {
  CURL* easy = curl_easy_init();
  if (!easy) return nullptr;
  Native* native = new Native;
  native->easy = easy;
  native->base_url = "http://" + host + ":" + std::to_string(port);
  native->user_agent = session.native()->user_agent;
  native->timeout_ms = static_cast<long>(timeout_ms);
  return std::unique_ptr<HttpConnection>(new HttpConnection(native));
}

HttpConnection::HttpConnection(Native* native) : native_(native) {}

HttpConnection::~HttpConnection() { curl_easy_cleanup(native_->easy); }

void HttpConnection::Releaser::operator()(Native* native) const { delete native; }

bool HttpConnection::SendGet(const std::string& object_name, HttpAnswer* answer) {
  HttpAnswer ignored;
  HttpAnswer& told = answer ? *answer : ignored;
  told = HttpAnswer();
  if (!IsPlainRequestTarget(object_name)) {
    told.error = http_error::kInvalidParameter;
    return false;
  }
  std::string target = object_name;
  if (target.empty() || target[0] != '/') target.insert(0, "/");
  // The target goes on the request line as given, so a '#' or '?' in the
  // object name reaches the server as it would through WinINet.
  std::string url = native_->base_url + "/";
  CURL* easy = native_->easy;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_REQUEST_TARGET, target.c_str());
  curl_easy_setopt(easy, CURLOPT_USERAGENT, native_->user_agent.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  ReportAnswer report;
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &ReportAnswer::OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &report);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &ReportAnswer::OnBody);
  // One deadline for the whole exchange, however slowly the head comes.
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, native_->timeout_ms);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, native_->timeout_ms);
  const CURLcode result = curl_easy_perform(easy);
  const bool answered = result == CURLE_OK || (result == CURLE_WRITE_ERROR && report.head_in);
  if (answered) {
    told.status = report.head.status;
  } else {
    told.error = WinInetErrorFor(result);
  }
  char* address = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_PRIMARY_IP, &address) == CURLE_OK && address) {
    told.remote_address = address;
  }
  return answered;
}

namespace {

using Clock = std::chrono::steady_clock;

// The body waits here between the transfer thread and the reader; a full
// buffer holds the transfer back, so memory does not grow with the body.
constexpr size_t kBufferBytes = 1 << 20;

}  // namespace

struct HttpDownload::Native {
  CURL* easy = nullptr;
  CURLM* multi = nullptr;
  std::thread transfer;
  curl_slist* headers = nullptr;  // a range's lines, kept while the transfer runs
  std::string url;
  std::string user_agent;
  std::chrono::milliseconds stall_limit{0};  // set before the transfer starts
  uint32_t start_error = 0;         // why the transfer could not start; set before it would
  std::atomic<bool> cancel{false};  // set by Cancel and the owner's destructor
  bool stalled = false;             // the owner's alone

  // The response whose head is being read, and the redirects followed
  // before it (transfer thread only).
  ResponseHead reading;
  int redirects = 0;
  // Transfer thread only: when the request went out (the head and the first
  // bytes of the body must come within a stall limit of it, however many
  // redirects), then when the last bytes of the body came.
  Clock::time_point last_activity;

  std::mutex mutex;  // guards everything below
  std::condition_variable changed;
  bool head_in = false;  // the final response's head, copied to `head`
  HttpHead head;         // read-only once head_in is set
  bool redirect_refused = false;
  bool ended = false;
  CURLcode result = CURLE_OK;
  long certificate_check = 0;  // OpenSSL's verdict on a certificate libcurl refused
  std::vector<char> ring;  // kBufferBytes, allocated once the head is in
  size_t ring_start = 0;
  size_t ring_count = 0;

  ~Native() {
    if (multi && easy) curl_multi_remove_handle(multi, easy);
    if (easy) curl_easy_cleanup(easy);
    if (multi) curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
  }

  void PublishHead() {
    if (head_in) return;  // set by this thread alone
    char* effective = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
    char* address = nullptr;
    curl_easy_getinfo(easy, CURLINFO_PRIMARY_IP, &address);
    std::lock_guard<std::mutex> lock(mutex);
    head.status = reading.status;
    head.has_length = reading.has_length;
    head.length = reading.length;
    head.content_type = reading.content_type;
    head.etag = reading.etag;
    head.last_modified = reading.last_modified;
    head.content_range = reading.content_range;
    head.redirects = redirects;
    head.final_url = effective ? effective : url;
    head.remote_address = address ? address : "";
    head_in = true;
    ring.resize(kBufferBytes);
    changed.notify_all();
  }

  static size_t OnHeader(char* line, size_t size, size_t count, void* context) {
    Native* self = static_cast<Native*>(context);
    const size_t length = size * count;
    if (!TakeHeaderLine(line, length, &self->reading)) return length;
    if (self->reading.IsRedirect() && !IsFollowableLocation(self->reading.location)) {
      std::lock_guard<std::mutex> lock(self->mutex);
      self->redirect_refused = true;
      return 0;  // ends the transfer before libcurl follows it
    }
    if (self->reading.IsRedirect()) ++self->redirects;
    if (self->reading.IsFinal()) self->PublishHead();
    return length;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* context) {
    Native* self = static_cast<Native*>(context);
    const size_t length = size * count;
    self->PublishHead();
    std::unique_lock<std::mutex> lock(self->mutex);
    size_t done = 0;
    while (done < length) {
      self->changed.wait(lock, [&] { return self->cancel || self->ring_count < kBufferBytes; });
      if (self->cancel) return 0;  // stops the transfer with a write error
      const size_t end = (self->ring_start + self->ring_count) % kBufferBytes;
      const size_t piece =
          std::min({length - done, kBufferBytes - self->ring_count, kBufferBytes - end});
      std::memcpy(self->ring.data() + end, data + done, piece);
      self->ring_count += piece;
      done += piece;
      self->changed.notify_all();
    }
    lock.unlock();
    self->last_activity = Clock::now();
    return length;
  }

  // The transfer thread.
  void Run() {
    last_activity = Clock::now();
    int running = 1;
    CURLcode outcome = CURLE_OK;
    // Looks often enough that a stall shows soon after the limit.
    const int poll_ms = static_cast<int>(
        std::min<long long>(1000, std::max<long long>(10, stall_limit.count() / 10)));
    while (!cancel) {
      if (curl_multi_perform(multi, &running) != CURLM_OK) {
        outcome = CURLE_OUT_OF_MEMORY;
        break;
      }
      if (!running) break;
      // Headers do not count: a head sent a line at a time, or a chain of
      // redirects, must not hold the download longer than silence would.
      if (Clock::now() - last_activity > stall_limit) {
        outcome = CURLE_OPERATION_TIMEDOUT;
        break;
      }
      curl_multi_poll(multi, nullptr, 0, poll_ms, nullptr);
    }
    if (cancel) {
      outcome = CURLE_ABORTED_BY_CALLBACK;
    } else if (!running) {
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE) outcome = message->data.result;
      }
    }
    // A redirect that was not followed after all is the final response.
    if (outcome == CURLE_OK && reading.complete) PublishHead();
    long check = 0;
    if (outcome == CURLE_PEER_FAILED_VERIFICATION) {
      curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &check);
    }
    std::lock_guard<std::mutex> lock(mutex);
    ended = true;
    result = outcome;
    certificate_check = check;
    changed.notify_all();
  }

  // Ends every wait at once; the transfer thread stops at its next look.
  void Cancel() {
    cancel = true;
    {
      std::lock_guard<std::mutex> lock(mutex);
      changed.notify_all();
    }
    if (multi) curl_multi_wakeup(multi);
  }

  void Stop() {
    Cancel();
    if (transfer.joinable()) transfer.join();
  }
};

std::unique_ptr<HttpDownload> HttpDownload::Start(HttpSession& session, const std::string& url,
                                                  const HttpRequestOptions&,
                                                  uint32_t stall_limit_ms, const HttpRange& range) {
  InitCurlOnce();
  std::unique_ptr<Native> native(new Native);
  native->url = url;
  native->user_agent = session.native()->user_agent;
  native->stall_limit = std::chrono::milliseconds(stall_limit_ms);
  if (url.empty()) {
    native->start_error = http_error::kInvalidParameter;  // as WinINet answers
    return std::unique_ptr<HttpDownload>(new HttpDownload(native.release()));
  }
  native->easy = curl_easy_init();
  native->multi = curl_multi_init();
  CURL* easy = native->easy;
  if (!easy || !native->multi) {
    native->start_error = http_error::kInternal;
    return std::unique_ptr<HttpDownload>(new HttpDownload(native.release()));
  }
  SetGetOptions(easy, native->url, native->user_agent, stall_limit_ms);
  for (const std::string& line : RangeHeaderLines(range)) {
    native->headers = curl_slist_append(native->headers, line.c_str());
  }
  if (native->headers) curl_easy_setopt(easy, CURLOPT_HTTPHEADER, native->headers);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Native::OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, native.get());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Native::OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, native.get());
  if (curl_multi_add_handle(native->multi, easy) != CURLM_OK) {
    native->start_error = http_error::kInternal;
    return std::unique_ptr<HttpDownload>(new HttpDownload(native.release()));
  }
  Native* raw = native.get();
  native->transfer = std::thread([raw] { raw->Run(); });
  return std::unique_ptr<HttpDownload>(new HttpDownload(native.release()));
}

void HttpDownload::Releaser::operator()(Native* native) const { delete native; }

HttpDownload::~HttpDownload() { native_->Stop(); }

void HttpDownload::Cancel() { native_->Cancel(); }

bool HttpDownload::stalled() const { return native_->stalled; }

bool HttpDownload::redirect_refused() const {
  std::lock_guard<std::mutex> lock(native_->mutex);
  return native_->redirect_refused;
}

const HttpHead& HttpDownload::head() const { return native_->head; }

bool HttpDownload::WaitForHead(uint32_t* error, std::string* response_text) {
  Native* native = native_.get();
  *error = 0;
  response_text->clear();
  if (native->start_error) {
    *error = native->start_error;
    return false;
  }
  std::unique_lock<std::mutex> lock(native->mutex);
  native->changed.wait(lock, [&] { return native->head_in || native->ended || native->cancel; });
  if (native->cancel) {
    *error = http_error::kCancelled;
    return false;
  }
  if (native->head_in) return true;
  native->stalled = native->result == CURLE_OPERATION_TIMEDOUT;
  *error = native->redirect_refused ? http_error::kRedirectFailed
           : native->result == CURLE_PEER_FAILED_VERIFICATION
               ? CertificateError(native->certificate_check)
               : WinInetErrorFor(native->result);
  return false;
}

namespace {

// Where the body ends, a connection that closed before the announced length
// counts as its end, as WinINet sees it; other failures are failures.
bool EndedCleanly(CURLcode result) { return result == CURLE_OK || result == CURLE_PARTIAL_FILE; }

}  // namespace

bool HttpDownload::QueryAvailable(uint32_t* bytes) {
  Native* native = native_.get();
  std::unique_lock<std::mutex> lock(native->mutex);
  native->changed.wait(lock,
                       [&] { return native->ring_count > 0 || native->ended || native->cancel; });
  if (native->cancel) return false;
  if (native->ring_count == 0 && !EndedCleanly(native->result)) {
    native->stalled = native->result == CURLE_OPERATION_TIMEDOUT;
    return false;
  }
  *bytes = static_cast<uint32_t>(native->ring_count);
  return true;
}

bool HttpDownload::Read(void* buffer, uint32_t size, uint32_t* read) {
  Native* native = native_.get();
  char* out = static_cast<char*>(buffer);
  uint32_t done = 0;
  std::unique_lock<std::mutex> lock(native->mutex);
  while (done < size) {
    native->changed.wait(lock,
                         [&] { return native->ring_count > 0 || native->ended || native->cancel; });
    if (native->cancel) {
      *read = done;
      return done > 0;
    }
    if (native->ring_count == 0) break;  // the body has ended
    const size_t piece = std::min(
        {static_cast<size_t>(size - done), native->ring_count, kBufferBytes - native->ring_start});
    std::memcpy(out + done, native->ring.data() + native->ring_start, piece);
    native->ring_start = (native->ring_start + piece) % kBufferBytes;
    native->ring_count -= piece;
    done += static_cast<uint32_t>(piece);
    native->changed.notify_all();
  }
  *read = done;
  if (done == 0 && !EndedCleanly(native->result)) {
    native->stalled = native->result == CURLE_OPERATION_TIMEDOUT;
    return false;
  }
  return true;
}

void DropCachedCopy(const std::string&) {}

}  // namespace platform
