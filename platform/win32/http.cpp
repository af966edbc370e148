#include "platform/http.h"

#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform/sync.h"
#include "platform/win32/unique_handle.h"

namespace platform {

// The names of the neutral header are WinINet's own numbers.
static_assert(http_error::kTimeout == ERROR_INTERNET_TIMEOUT, "");
static_assert(http_error::kInternal == ERROR_INTERNET_INTERNAL_ERROR, "");
static_assert(http_error::kInvalidUrl == ERROR_INTERNET_INVALID_URL, "");
static_assert(http_error::kUnrecognizedScheme == ERROR_INTERNET_UNRECOGNIZED_SCHEME, "");
static_assert(http_error::kNameNotResolved == ERROR_INTERNET_NAME_NOT_RESOLVED, "");
static_assert(http_error::kCancelled == ERROR_INTERNET_OPERATION_CANCELLED, "");
static_assert(http_error::kCannotConnect == ERROR_INTERNET_CANNOT_CONNECT, "");
static_assert(http_error::kConnectionAborted == ERROR_INTERNET_CONNECTION_ABORTED, "");
static_assert(http_error::kConnectionReset == ERROR_INTERNET_CONNECTION_RESET, "");
static_assert(http_error::kInvalidServerResponse == ERROR_HTTP_INVALID_SERVER_RESPONSE, "");
static_assert(http_error::kRedirectFailed == ERROR_HTTP_REDIRECT_FAILED, "");
static_assert(http_error::kInvalidParameter == ERROR_INVALID_PARAMETER, "");

namespace {

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle handle) { return handle != nullptr; }
  static void Close(Handle handle) { InternetCloseHandle(handle); }
};
using InternetHandle = UniqueHandle<InternetHandleTraits>;

// Called in a catch block at the top of a request's thread: the system error
// the owner is told instead of the process ending, unlogged, with the thread.
DWORD ThrownError() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return ERROR_INTERNET_INTERNAL_ERROR;
  }
}

}  // namespace

// Shared by the session and the transfers started from it, which may outlive
// it: the internet handle goes when the last of them lets go.
struct HttpSession::Native {
  explicit Native(HINTERNET handle) : internet(handle) {}
  void AddRef() { InterlockedIncrement(&references); }
  void Release() {
    if (InterlockedDecrement(&references) == 0) delete this;
  }
  InternetHandle internet;
  volatile LONG references = 1;
};

std::unique_ptr<HttpSession> HttpSession::Open(const std::string& user_agent,
                                               const HttpSessionOptions& options) {
  const DWORD flags = (options.no_cookies ? INTERNET_FLAG_NO_COOKIES : 0) |
                      (options.no_ui ? INTERNET_FLAG_NO_UI : 0);
  HINTERNET handle =
      InternetOpenA(user_agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, flags);
  if (!handle) return nullptr;
  return std::unique_ptr<HttpSession>(new HttpSession(new Native(handle)));
}

void HttpSession::Releaser::operator()(Native* native) const { native->Release(); }

HttpSession::~HttpSession() = default;

// Shared by the connection and a request still running past its deadline,
// which keeps the session (the handles' parent) as well.
struct HttpConnection::Native {
  Native(HttpSession::Native* session, HINTERNET handle, DWORD timeout_ms)
      : session(session), connection(handle), timeout_ms(timeout_ms) {
    session->AddRef();
  }
  ~Native() {
    connection.reset();  // before its parent
    session->Release();
  }
  void AddRef() { InterlockedIncrement(&references); }
  void Release() {
    if (InterlockedDecrement(&references) == 0) delete this;
  }
  HttpSession::Native* const session;
  InternetHandle connection;
  const DWORD timeout_ms;
  volatile LONG references = 1;
};

std::unique_ptr<HttpConnection> HttpConnection::Connect(HttpSession& session,
                                                        const std::string& host, int port,
                                                        uint32_t timeout_ms) {
  HINTERNET handle = InternetConnectA(session.native()->internet.get(), host.c_str(),
                                      static_cast<INTERNET_PORT>(port), nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, 0, 0);
  if (!handle) return nullptr;
  return std::unique_ptr<HttpConnection>(
      new HttpConnection(new Native(session.native(), handle, timeout_ms)));
}

HttpConnection::HttpConnection(Native* native) : native_(native) {}

HttpConnection::~HttpConnection() = default;

void HttpConnection::Releaser::operator()(Native* native) const { native->Release(); }

namespace {

// Requests still running after their sender stopped waiting. A server that
// holds every request open would otherwise gather a thread per attempt:
// while one runs, a new attempt fails at once.
volatile LONG abandoned_requests = 0;

// One report request, made on a thread of its own: WinINet's time-outs bound
// each receive, not the exchange (a head sent a line a second keeps
// HttpSendRequestA going for as long as the server likes), so the sender
// waits for the answer with a deadline and, past it, leaves the thread to end
// by itself. Whichever of the two lets go last frees this.
struct ReportRequest {
  ReportRequest(HttpConnection::Native* connection, const std::string& object_name)
      : connection(connection), object_name(object_name) {
    connection->AddRef();
  }
  ~ReportRequest() { connection->Release(); }
  void Release() {
    if (InterlockedDecrement(&references) == 0) delete this;
  }

  static void Run(void* self) {
    ReportRequest* request = static_cast<ReportRequest*>(self);
    try {
      request->Exchange();
    } catch (...) {
      request->Record(false, 0, ThrownError());
    }
    request->Release();
  }
  void Exchange() {
    InternetHandle handle(HttpOpenRequestA(connection->connection.get(), "GET", object_name.c_str(),
                                           nullptr, nullptr, nullptr, 0, 1));
    bool ok = false;
    if (handle.get()) {
      // On the request itself: Wine ignores the send and receive time-outs of
      // an InternetOpenA handle (and every connect time-out); Windows honours
      // these. They end a thread left behind by a silent server.
      DWORD timeout = connection->timeout_ms;
      for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                           INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        InternetSetOptionA(handle.get(), option, &timeout, sizeof timeout);
      }
      ok = HttpSendRequestA(handle.get(), nullptr, 0, nullptr, 0) != 0;
    }
    const DWORD failure = ok ? 0 : GetLastError();
    DWORD code = 0;
    DWORD size = sizeof code;
    if (ok) {
      HttpQueryInfoA(handle.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size,
                     nullptr);
    }
    Record(ok, code, failure);
    // The body is not read; closing may wait for the connection.
  }
  void Record(bool ok, DWORD code, DWORD failure) {
    {
      LockGuard guard(lock);
      sent = ok;
      status = static_cast<int>(code);
      error = failure;
      answered = true;
      if (abandoned) InterlockedDecrement(&abandoned_requests);
    }
    done.Set();
  }

  // Set before the thread starts, read-only afterwards.
  HttpConnection::Native* const connection;  // one reference held
  const std::string object_name;
  volatile LONG references = 2;  // the sender and the request's thread
  Event done{true, false};

  Lock lock;  // guards what follows
  bool answered = false;
  bool sent = false;
  int status = 0;
  DWORD error = 0;
  bool abandoned = false;  // the sender stopped waiting
};

}  // namespace

bool HttpConnection::SendGet(const std::string& object_name, HttpAnswer* answer) {
  HttpAnswer ignored;
  HttpAnswer& told = answer ? *answer : ignored;
  told = HttpAnswer();
  if (!IsPlainRequestTarget(object_name)) {
    told.error = ERROR_INVALID_PARAMETER;
    return false;
  }
  if (abandoned_requests > 0) {
    told.error = ERROR_INTERNET_TIMEOUT;
    return false;
  }
  ReportRequest* request = new ReportRequest(native_.get(), object_name);
  if (!StartDetachedThread(&ReportRequest::Run, request, &told.error)) {
    request->Release();  // the thread's reference
    request->Release();
    return false;
  }
  request->done.Wait(native_->timeout_ms);
  bool sent;
  {
    LockGuard guard(request->lock);
    if (!request->answered) {
      request->abandoned = true;
      InterlockedIncrement(&abandoned_requests);
    }
    sent = request->answered && request->sent;
    told.status = request->status;
    told.error = request->answered ? request->error : ERROR_INTERNET_TIMEOUT;
  }
  request->Release();
  return sent;
}

namespace {

// A header as text; a value longer than the buffer fails the query. The
// status comes in 10 bytes, as the old client asked for it.
template <size_t kBytes>
bool QueryHeader(HINTERNET request, DWORD which, std::string* text) {
  char buffer[kBytes];
  DWORD length = sizeof buffer;
  if (!HttpQueryInfoA(request, which, buffer, &length, nullptr)) return false;
  text->assign(buffer, length);
  return true;
}

DWORD RequestFlags(const HttpRequestOptions& options) {
  return (options.reuse_connection ? INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_KEEP_CONNECTION
                                   : 0) |
         (options.passive ? INTERNET_FLAG_PASSIVE : 0) |
         (options.revalidate_cache ? INTERNET_FLAG_RESYNCHRONIZE : 0);
}

// The server's last response text. WinINet keeps it per thread, so it is
// asked on the thread whose call failed.
std::string LastResponseText() {
  char text[500];
  DWORD length = sizeof text;
  DWORD code = 0;
  if (!InternetGetLastResponseInfoA(&code, text, &length) || length == 0) return std::string();
  size_t size = length < sizeof text ? length : sizeof text;
  const void* end = std::memchr(text, '\0', size);
  if (end) size = static_cast<size_t>(static_cast<const char*>(end) - text);
  return std::string(text, size);
}

// WinINet's time-out; Wine reports the socket's own (WSAETIMEDOUT).
bool IsTimeout(DWORD error) {
  return error == ERROR_INTERNET_TIMEOUT || error == http_error::kSocketTimeout;
}

// Wine's WinINet follows a redirect loop without end, so redirects are
// followed here, at most as many as libcurl follows on the host.
constexpr int kMaxRedirects = 30;

bool IsRedirectStatus(const std::string& status) {
  return status == "301" || status == "302" || status == "303" || status == "307" ||
         status == "308";
}

// What a redirect's Location comes to.
enum class Redirect { kNone, kFollowed, kRefused };

// The absolute address a redirect's Location names, resolved against `base`;
// kNone when it names none (the response is then the final one), kRefused
// when it may not be followed.
Redirect RedirectTarget(HINTERNET request, const std::string& base, std::string* target) {
  std::vector<char> location(2048);
  DWORD length = static_cast<DWORD>(location.size());
  if (!HttpQueryInfoA(request, HTTP_QUERY_LOCATION, location.data(), &length, nullptr)) {
    return Redirect::kNone;
  }
  if (!IsFollowableLocation(std::string(location.data(), length))) return Redirect::kRefused;
  std::vector<char> combined(4096);
  DWORD combined_length = static_cast<DWORD>(combined.size());
  if (!InternetCombineUrlA(base.c_str(), location.data(), combined.data(), &combined_length,
                           ICU_NO_ENCODE)) {
    return Redirect::kRefused;
  }
  target->assign(combined.data(), combined_length);
  // Resolved, it must still be a plain http or https address.
  const size_t colon = target->find(':');
  if (!IsFollowableLocation(*target) || colon == std::string::npos ||
      target->compare(colon, 3, "://") != 0) {
    return Redirect::kRefused;
  }
  return Redirect::kFollowed;
}

// What the body waits in between the transfer thread and the owner; a full
// ring holds the transfer back, so memory does not grow with the body.
constexpr size_t kRingBytes = 1 << 20;

// Under Wine every event set and wait is a trip to the wineserver, and WinINet
// reads at most 8 KiB at a time, so the owner is woken once a batch is in, or
// takes what came within a short wait: a fast body costs a wake per batch, a
// slow one is seen at most that wait late.
constexpr size_t kBatchBytes = 64 * 1024;
constexpr DWORD kBatchWaitMs = 20;

}  // namespace

// What a download's owner and its transfer thread share. WinINet runs on the
// transfer thread alone: Wine ends no blocked read when another thread closes
// the handle, so a cancelled or stalled owner leaves that thread to finish
// its current call and end by itself, and whichever of the two lets go last
// frees this.
struct HttpDownload::Native {
  Native(HttpSession::Native* session, const std::string& url, DWORD flags, DWORD stall_limit_ms)
      : session(session), url(url), flags(flags), stall_limit_ms(stall_limit_ms), ring(kRingBytes) {
    session->AddRef();
    last_news = GetTickCount();
  }
  ~Native() { session->Release(); }
  void Release() {
    if (InterlockedDecrement(&references) == 0) delete this;
  }

  static void Run(void* self) {
    Native* native = static_cast<Native*>(self);
    DWORD failure;
    try {
      failure = native->Transfer();
    } catch (...) {
      failure = ThrownError();
    }
    {
      LockGuard guard(native->lock);
      native->error = failure;
      native->ended = true;
      native->Publish(true);
    }
    native->Release();
  }
  // Fetches the head and the body; the error that ended it, 0 at the body's end.
  DWORD Transfer();

  // With `lock` held (the transfer thread): wakes the owner if it waits and
  // what it waits for has come (the head and the end always are).
  void Publish(bool always) {
    if (owner_waits && (always || ring_count >= owner_wants)) changed.Set();
  }
  // With `lock` held (the owner), released while asleep: waits for news from
  // the transfer thread, at most `longest_ms`, woken early once `wants` bytes
  // are in; false, without waiting, once `since` lies the stall limit back.
  bool AwaitNews(DWORD since, size_t wants = 1, DWORD longest_ms = INFINITE) {
    const DWORD elapsed = GetTickCount() - since;  // unsigned: a wrap does no harm
    if (elapsed >= stall_limit_ms) return false;
    const DWORD left = stall_limit_ms - elapsed;
    owner_waits = true;
    owner_wants = wants;
    lock.Release();
    changed.Wait(left < longest_ms ? left : longest_ms);
    lock.Acquire();
    owner_waits = false;
    return true;
  }
  // The transfer thread: false once cancelled; otherwise where the next bytes
  // go and how many fit there.
  bool AwaitRoom(size_t* end, size_t* room) {
    LockGuard guard(lock);
    while (!cancelled && ring_count == kRingBytes) {
      transfer_waits = true;
      lock.Release();
      taken.Wait();
      lock.Acquire();
      transfer_waits = false;
    }
    if (cancelled) return false;
    *end = (ring_start + ring_count) % kRingBytes;
    const size_t free = kRingBytes - ring_count;
    *room = free < kRingBytes - *end ? free : kRingBytes - *end;
    return true;
  }

  // Set before the transfer thread starts, read-only afterwards.
  HttpSession::Native* const session;  // one reference held
  const std::string url;
  std::string headers;  // a range's lines, each with its CR LF
  const DWORD flags;
  const DWORD stall_limit_ms;
  // The bytes in [ring_start, ring_start + ring_count) belong to the owner,
  // the free part to the transfer thread, which reads into it without the lock.
  std::vector<char> ring;
  volatile LONG references = 2;  // the owner and the transfer thread

  Lock lock;                    // guards everything below
  Event changed{false, false};  // the transfer thread's news (and Cancel) for a waiting owner
  Event taken{false, false};    // the owner's reads (and Cancel) for a waiting transfer thread
  // Written by the transfer thread, read by the owner.
  bool head_in = false;
  HttpHead head;  // read-only once head_in is set
  std::string response_text;
  bool ended = false;
  DWORD error = 0;  // why the transfer ended; 0 at the end of the body
  // When the transfer began (the head and the first bytes of the body must
  // come within a stall limit of it), then when the last bytes came or the
  // owner made room in a full ring.
  DWORD last_news;
  size_t ring_count = 0;
  bool transfer_waits = false;
  // Written by the owner, read by the transfer thread.
  size_t ring_start = 0;
  bool owner_waits = false;
  size_t owner_wants = 1;         // the ring's count that is worth a wake
  bool cancelled = false;         // also by Cancel from any thread
  bool redirect_refused = false;  // written by the transfer thread
  // The owner's alone.
  bool stalled = false;
};

DWORD HttpDownload::Native::Transfer() {
  InternetHandle request;
  std::string status_text;
  bool status_known = false;
  std::string address = url;
  int redirects = 0;
  for (;; ++redirects) {
    request.reset(InternetOpenUrlA(
        session->internet.get(), address.c_str(), headers.empty() ? nullptr : headers.c_str(),
        static_cast<DWORD>(headers.size()), flags | INTERNET_FLAG_NO_AUTO_REDIRECT, 0));
    if (!request.get()) {
      const DWORD failure = GetLastError();
      const std::string text = LastResponseText();
      LockGuard guard(lock);
      response_text = text;
      return failure;
    }
    status_known = QueryHeader<10>(request.get(), HTTP_QUERY_STATUS_CODE, &status_text);
    if (!status_known || !IsRedirectStatus(status_text)) break;
    std::string next;
    const Redirect redirect = RedirectTarget(request.get(), address, &next);
    if (redirect == Redirect::kNone) break;  // a 30x without Location is the answer
    if (redirect == Redirect::kRefused) {
      LockGuard guard(lock);
      redirect_refused = true;
      return ERROR_HTTP_REDIRECT_FAILED;
    }
    if (redirects == kMaxRedirects) return ERROR_HTTP_REDIRECT_FAILED;
    {
      LockGuard guard(lock);
      if (cancelled) return ERROR_INTERNET_OPERATION_CANCELLED;
    }
    address = next;
  }
  HttpHead answer;
  answer.status = status_known ? std::atoi(status_text.c_str()) : 0;
  answer.has_length = QueryHeader<64>(request.get(), HTTP_QUERY_CONTENT_LENGTH, &answer.length);
  QueryHeader<256>(request.get(), HTTP_QUERY_CONTENT_TYPE, &answer.content_type);
  QueryHeader<256>(request.get(), HTTP_QUERY_ETAG, &answer.etag);
  QueryHeader<64>(request.get(), HTTP_QUERY_LAST_MODIFIED, &answer.last_modified);
  QueryHeader<64>(request.get(), HTTP_QUERY_CONTENT_RANGE, &answer.content_range);
  answer.redirects = redirects;
  answer.final_url = address;
  {
    LockGuard guard(lock);
    head = answer;
    head_in = true;
    Publish(true);
  }
  size_t end;
  size_t room;
  while (AwaitRoom(&end, &room)) {
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request.get(), &available, 0, 0)) return GetLastError();
    if (available == 0) return 0;  // the end of the body
    DWORD got = 0;
    const DWORD wanted = available < room ? available : static_cast<DWORD>(room);
    if (!InternetReadFile(request.get(), &ring[end], wanted, &got)) return GetLastError();
    if (got == 0) return 0;
    LockGuard guard(lock);
    ring_count += got;
    last_news = GetTickCount();
    Publish(false);
  }
  return ERROR_INTERNET_OPERATION_CANCELLED;
}

std::unique_ptr<HttpDownload> HttpDownload::Start(HttpSession& session, const std::string& url,
                                                  const HttpRequestOptions& options,
                                                  uint32_t stall_limit_ms, const HttpRange& range) {
  // WinINet's own limit (Windows applies the session's to its requests; Wine
  // ignores it) ends a transfer thread that was left behind, and keeps
  // Windows's shorter default from cutting a slow server off first.
  DWORD limit = stall_limit_ms;
  InternetSetOptionA(session.native()->internet.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &limit,
                     sizeof limit);
  Native* native = new Native(session.native(), url, RequestFlags(options), stall_limit_ms);
  for (const std::string& line : RangeHeaderLines(range)) native->headers += line + "\r\n";
  if (!StartDetachedThread(&Native::Run, native)) {
    native->error = ERROR_INTERNET_INTERNAL_ERROR;
    native->ended = true;
    native->Release();  // the thread's reference
  }
  return std::unique_ptr<HttpDownload>(new HttpDownload(native));
}

void HttpDownload::Releaser::operator()(Native* native) const { native->Release(); }

HttpDownload::~HttpDownload() { Cancel(); }

void HttpDownload::Cancel() {
  LockGuard guard(native_->lock);
  native_->cancelled = true;
  native_->changed.Set();
  native_->taken.Set();
}

bool HttpDownload::stalled() const { return native_->stalled; }

bool HttpDownload::redirect_refused() const {
  LockGuard guard(native_->lock);
  return native_->redirect_refused;
}

const HttpHead& HttpDownload::head() const { return native_->head; }

bool HttpDownload::WaitForHead(uint32_t* error, std::string* response_text) {
  Native& n = *native_;
  *error = 0;
  response_text->clear();
  LockGuard guard(n.lock);
  for (;;) {
    if (n.head_in) return true;
    if (n.cancelled) {
      *error = ERROR_INTERNET_OPERATION_CANCELLED;
      return false;
    }
    if (n.ended) {
      *error = n.error;
      *response_text = n.response_text;
      n.stalled = IsTimeout(n.error);
      return false;
    }
    if (!n.AwaitNews(n.last_news)) {
      *error = ERROR_INTERNET_TIMEOUT;
      n.stalled = true;
      return false;
    }
  }
}

bool HttpDownload::QueryAvailable(uint32_t* bytes) {
  Native& n = *native_;
  LockGuard guard(n.lock);
  const DWORD asked = GetTickCount();
  for (;;) {
    if (n.cancelled) return false;
    const bool waited_enough = GetTickCount() - asked >= kBatchWaitMs;
    if (n.ring_count >= kBatchBytes || (n.ring_count > 0 && (n.ended || waited_enough))) {
      *bytes = static_cast<uint32_t>(n.ring_count);
      return true;
    }
    if (n.ended) {
      n.stalled = IsTimeout(n.error);
      *bytes = 0;
      return n.error == 0;
    }
    if (!n.AwaitNews(n.last_news, kBatchBytes, kBatchWaitMs)) {
      if (n.ring_count == 0) {
        n.stalled = true;
        return false;
      }
      *bytes = static_cast<uint32_t>(n.ring_count);  // bytes, however old, are not a stall
      return true;
    }
  }
}

bool HttpDownload::Read(void* buffer, uint32_t size, uint32_t* read) {
  Native& n = *native_;
  char* out = static_cast<char*>(buffer);
  uint32_t done = 0;
  bool failed = false;
  LockGuard guard(n.lock);
  while (done < size) {
    if (n.cancelled) {
      failed = true;
      break;
    }
    if (n.ring_count > 0) {
      size_t piece = size - done;
      if (piece > n.ring_count) piece = n.ring_count;
      if (piece > kRingBytes - n.ring_start) piece = kRingBytes - n.ring_start;
      std::memcpy(out + done, &n.ring[n.ring_start], piece);
      n.ring_start = (n.ring_start + piece) % kRingBytes;
      n.ring_count -= piece;
      done += static_cast<uint32_t>(piece);
      if (n.transfer_waits) {
        // The server could send nothing while the ring was full: its silence
        // counts from now.
        n.last_news = GetTickCount();
        n.taken.Set();
      }
      continue;
    }
    if (n.ended) {
      n.stalled = IsTimeout(n.error);
      failed = n.error != 0;
      break;
    }
    if (!n.AwaitNews(n.last_news)) {
      n.stalled = true;
      failed = true;
      break;
    }
  }
  *read = done;
  return done > 0 || !failed;
}

void DropCachedCopy(const std::string& url) { DeleteUrlCacheEntryA(url.c_str()); }

}  // namespace platform
