#include "platform/http.h"

#include <windows.h>
#include <wininet.h>

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

std::unique_ptr<HttpSession> HttpSession::Open(const std::string& user_agent) {
  HINTERNET handle =
      InternetOpenA(user_agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
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

}  // namespace platform
