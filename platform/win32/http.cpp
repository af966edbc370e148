#include "platform/http.h"

#include <windows.h>
#include <wininet.h>

#include <cstring>

namespace platform {
namespace {

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() {
    if (handle_) InternetCloseHandle(handle_);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET get() const { return handle_; }

 private:
  HINTERNET handle_;
};

}  // namespace

struct HttpSession::Native {
  explicit Native(HINTERNET handle) : internet(handle) {}
  InternetHandle internet;
};

std::unique_ptr<HttpSession> HttpSession::Open(const std::string& user_agent, unsigned flags) {
  HINTERNET handle =
      InternetOpenA(user_agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, flags);
  if (!handle) return nullptr;
  return std::unique_ptr<HttpSession>(new HttpSession(new Native(handle)));
}

HttpSession::~HttpSession() { delete native_; }

struct HttpConnection::Native {
  explicit Native(HINTERNET handle) : connection(handle) {}
  InternetHandle connection;
};

std::unique_ptr<HttpConnection> HttpConnection::Connect(HttpSession& session,
                                                        const std::string& host, int port) {
  HINTERNET handle = InternetConnectA(session.native()->internet.get(), host.c_str(),
                                      static_cast<INTERNET_PORT>(port), nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, 0, 0);
  if (!handle) return nullptr;
  return std::unique_ptr<HttpConnection>(new HttpConnection(new Native(handle)));
}

HttpConnection::~HttpConnection() { delete native_; }

bool HttpConnection::SendGet(const std::string& object_name) {
  std::string target = EscapeRequestTarget(object_name);
  InternetHandle request(HttpOpenRequestA(native_->connection.get(), "GET", target.c_str(), nullptr,
                                          nullptr, nullptr, 0, 1));
  if (!request.get()) return false;
  return HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0) != 0;
}

struct HttpDownload::Native {
  explicit Native(HINTERNET handle) : request(handle) {}
  InternetHandle request;
};

namespace {

// A header as text in a 10-byte buffer: a longer value fails the query.
bool QueryHeader(HINTERNET request, DWORD which, std::string* digits) {
  char buffer[10];
  DWORD length = sizeof buffer;
  if (!HttpQueryInfoA(request, which, buffer, &length, nullptr)) return false;
  digits->assign(buffer, length);
  return true;
}

}  // namespace

std::unique_ptr<HttpDownload> HttpDownload::Open(HttpSession& session, const std::string& url,
                                                 unsigned flags, uint32_t* error,
                                                 std::string* response_text) {
  *error = 0;
  response_text->clear();
  HINTERNET handle =
      InternetOpenUrlA(session.native()->internet.get(), url.c_str(), nullptr, 0, flags, 0);
  if (!handle) {
    *error = GetLastError();
    char text[500];
    DWORD length = sizeof text;
    DWORD code = 0;
    if (InternetGetLastResponseInfoA(&code, text, &length) && length > 0) {
      size_t size = length < sizeof text ? length : sizeof text;
      const void* end = std::memchr(text, '\0', size);
      if (end) size = static_cast<size_t>(static_cast<const char*>(end) - text);
      response_text->assign(text, size);
    }
    return nullptr;
  }
  return std::unique_ptr<HttpDownload>(new HttpDownload(new Native(handle)));
}

HttpDownload::~HttpDownload() { delete native_; }

bool HttpDownload::QueryStatus(std::string* digits) {
  return QueryHeader(native_->request.get(), HTTP_QUERY_STATUS_CODE, digits);
}

bool HttpDownload::QueryContentLength(std::string* digits) {
  return QueryHeader(native_->request.get(), HTTP_QUERY_CONTENT_LENGTH, digits);
}

bool HttpDownload::QueryAvailable(uint32_t* bytes) {
  DWORD available = 0;
  if (!InternetQueryDataAvailable(native_->request.get(), &available, 0, 0)) return false;
  *bytes = available;
  return true;
}

bool HttpDownload::Read(void* buffer, uint32_t size, uint32_t* read) {
  DWORD got = 0;
  BOOL ok = InternetReadFile(native_->request.get(), buffer, size, &got);
  *read = ok ? got : 0;
  return ok != 0;
}

void DropCachedCopy(const std::string& url) { DeleteUrlCacheEntryA(url.c_str()); }

}  // namespace platform
