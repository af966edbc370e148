#include "platform/http.h"

#include <windows.h>
#include <wininet.h>

#include <cstring>
#include <vector>

#include "platform/sync.h"
#include "platform/win32/unique_handle.h"

namespace platform {
namespace {

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle handle) { return handle != nullptr; }
  static void Close(Handle handle) { InternetCloseHandle(handle); }
};
using InternetHandle = UniqueHandle<InternetHandleTraits>;

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

std::unique_ptr<HttpSession> HttpSession::Open(const std::string& user_agent, unsigned flags) {
  HINTERNET handle =
      InternetOpenA(user_agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, flags);
  if (!handle) return nullptr;
  return std::unique_ptr<HttpSession>(new HttpSession(new Native(handle)));
}

void HttpSession::Releaser::operator()(Native* native) const { native->Release(); }

HttpSession::~HttpSession() = default;

struct HttpConnection::Native {
  Native(HINTERNET handle, DWORD timeout_ms) : connection(handle), timeout_ms(timeout_ms) {}
  InternetHandle connection;
  DWORD timeout_ms;
};

std::unique_ptr<HttpConnection> HttpConnection::Connect(HttpSession& session,
                                                        const std::string& host, int port,
                                                        uint32_t timeout_ms) {
  HINTERNET handle = InternetConnectA(session.native()->internet.get(), host.c_str(),
                                      static_cast<INTERNET_PORT>(port), nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, 0, 0);
  if (!handle) return nullptr;
  return std::unique_ptr<HttpConnection>(new HttpConnection(new Native(handle, timeout_ms)));
}

HttpConnection::HttpConnection(Native* native) : native_(native) {}

HttpConnection::~HttpConnection() = default;

bool HttpConnection::SendGet(const std::string& object_name) {
  if (!IsPlainRequestTarget(object_name)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  InternetHandle request(HttpOpenRequestA(native_->connection.get(), "GET", object_name.c_str(),
                                          nullptr, nullptr, nullptr, 0, 1));
  if (!request.get()) return false;
  // On the request itself: Wine ignores the send and receive time-outs of an
  // InternetOpenA handle (and every connect time-out); Windows honours these.
  DWORD timeout = native_->timeout_ms;
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    InternetSetOptionA(request.get(), option, &timeout, sizeof timeout);
  }
  return HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0) != 0;
}

namespace {

// A header as text in a 10-byte buffer: a longer value fails the query.
bool QueryHeader(HINTERNET request, DWORD which, std::string* digits) {
  char buffer[10];
  DWORD length = sizeof buffer;
  if (!HttpQueryInfoA(request, which, buffer, &length, nullptr)) return false;
  digits->assign(buffer, length);
  return true;
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
bool IsTimeout(DWORD error) { return error == ERROR_INTERNET_TIMEOUT || error == 10060; }

// Wine's WinINet follows a redirect loop without end, so redirects are
// followed here, at most as many as libcurl follows on the host.
constexpr int kMaxRedirects = 30;

bool IsRedirectStatus(const std::string& status) {
  return status == "301" || status == "302" || status == "303" || status == "307" ||
         status == "308";
}

// The absolute address a redirect's Location names, resolved against `base`.
bool RedirectTarget(HINTERNET request, const std::string& base, std::string* target) {
  std::vector<char> location(2048);
  DWORD length = static_cast<DWORD>(location.size());
  if (!HttpQueryInfoA(request, HTTP_QUERY_LOCATION, location.data(), &length, nullptr)) {
    return false;
  }
  std::vector<char> combined(4096);
  DWORD combined_length = static_cast<DWORD>(combined.size());
  if (!InternetCombineUrlA(base.c_str(), location.data(), combined.data(), &combined_length,
                           ICU_NO_ENCODE)) {
    return false;
  }
  target->assign(combined.data(), combined_length);
  return true;
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
    const DWORD failure = native->Transfer();
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
  bool has_status = false;
  bool has_length = false;
  std::string status;
  std::string length;
  std::string response_text;
  bool ended = false;
  DWORD error = 0;  // why the transfer ended; 0 at the end of the body
  DWORD last_news;  // when the transfer began, or the last redirect, the head or bytes came
  size_t ring_count = 0;
  bool transfer_waits = false;
  // Written by the owner, read by the transfer thread.
  size_t ring_start = 0;
  bool owner_waits = false;
  size_t owner_wants = 1;  // the ring's count that is worth a wake
  bool cancelled = false;  // also by Cancel from any thread
  // The owner's alone.
  bool stalled = false;
};

DWORD HttpDownload::Native::Transfer() {
  InternetHandle request;
  std::string status_text;
  bool status_known = false;
  std::string address = url;
  for (int redirects = 0;; ++redirects) {
    request.reset(InternetOpenUrlA(session->internet.get(), address.c_str(), nullptr, 0,
                                   flags | INTERNET_FLAG_NO_AUTO_REDIRECT, 0));
    if (!request.get()) {
      const DWORD failure = GetLastError();
      const std::string text = LastResponseText();
      LockGuard guard(lock);
      response_text = text;
      return failure;
    }
    status_known = QueryHeader(request.get(), HTTP_QUERY_STATUS_CODE, &status_text);
    std::string next;
    if (!status_known || !IsRedirectStatus(status_text) ||
        !RedirectTarget(request.get(), address, &next)) {
      break;
    }
    if (redirects == kMaxRedirects) return ERROR_HTTP_REDIRECT_FAILED;
    {
      LockGuard guard(lock);
      if (cancelled) return ERROR_INTERNET_OPERATION_CANCELLED;
      last_news = GetTickCount();  // a server that redirects is answering
    }
    address = next;
  }
  std::string length_text;
  const bool length_known = QueryHeader(request.get(), HTTP_QUERY_CONTENT_LENGTH, &length_text);
  {
    LockGuard guard(lock);
    has_status = status_known;
    has_length = length_known;
    status = status_text;
    length = length_text;
    head_in = true;
    last_news = GetTickCount();
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
                                                  unsigned flags, uint32_t stall_limit_ms) {
  // WinINet's own limit (Windows applies the session's to its requests; Wine
  // ignores it) ends a transfer thread that was left behind, and keeps
  // Windows's shorter default from cutting a slow server off first.
  DWORD limit = stall_limit_ms;
  InternetSetOptionA(session.native()->internet.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &limit,
                     sizeof limit);
  Native* native = new Native(session.native(), url, flags, stall_limit_ms);
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

bool HttpDownload::QueryStatus(std::string* digits) {
  LockGuard guard(native_->lock);
  if (!native_->has_status) return false;
  *digits = native_->status;
  return true;
}

bool HttpDownload::QueryContentLength(std::string* digits) {
  LockGuard guard(native_->lock);
  if (!native_->has_length) return false;
  *digits = native_->length;
  return true;
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
      if (n.transfer_waits) n.taken.Set();
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
