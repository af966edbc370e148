// HTTP client (WinINet on win32, libcurl on posix).
#pragma once

#include <memory>
#include <string>

namespace platform {

class HttpConnection;

// An internet session (InternetOpenA with the system's proxy settings).
class HttpSession {
 public:
  struct Native;
  // Null when the session cannot be opened.
  static std::unique_ptr<HttpSession> Open(const std::string& user_agent);
  ~HttpSession();
  Native* native() const { return native_; }

 private:
  explicit HttpSession(Native* native) : native_(native) {}
  Native* native_;
};

// A connection to one server (InternetConnectA). Requests made through it
// reuse the network connection where the server keeps it open.
class HttpConnection {
 public:
  struct Native;
  // Null when the connection handle cannot be made.
  static std::unique_ptr<HttpConnection> Connect(HttpSession& session, const std::string& host,
                                                 int port);
  ~HttpConnection();

  // Sends "GET <object_name>" with no headers or body; true when the request
  // went out and an answer came back (whatever its status). The answer is not
  // read. The object name passes through EscapeRequestTarget first.
  bool SendGet(const std::string& object_name);

 private:
  explicit HttpConnection(Native* native) : native_(native) {}
  Native* native_;
};

// Percent-encodes control bytes, DEL and the space (as %0D, %20...) and leaves
// every other byte alone: a CR LF in an object name could otherwise end the
// request line and smuggle in header lines.
std::string EscapeRequestTarget(const std::string& object_name);

}  // namespace platform
