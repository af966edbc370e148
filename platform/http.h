// HTTP client (WinINet on win32, libcurl on posix).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class HttpConnection;

// An internet session (InternetOpenA with the system's proxy settings).
class HttpSession {
 public:
  struct Native;
  // Null when the session cannot be opened. `flags` are InternetOpenA's
  // (posix: ignored; libcurl keeps no cookies and shows no UI anyway).
  static std::unique_ptr<HttpSession> Open(const std::string& user_agent, unsigned flags = 0);
  ~HttpSession();
  // It owns its native handle: a copy would close it twice.
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;
  Native* native() const { return native_.get(); }

 private:
  // Lets go of the native part, which transfers on win32 share (and so release).
  struct Releaser {
    void operator()(Native* native) const;
  };
  explicit HttpSession(Native* native) : native_(native) {}
  std::unique_ptr<Native, Releaser> native_;
};

// A connection to one server (InternetConnectA). Requests made through it
// reuse the network connection where the server keeps it open.
class HttpConnection {
 public:
  struct Native;
  // Null when the connection handle cannot be made. `timeout_ms` is the
  // deadline of each request's whole exchange: connecting, sending and the
  // answer's head, however slowly the server sends it.
  static std::unique_ptr<HttpConnection> Connect(HttpSession& session, const std::string& host,
                                                 int port, uint32_t timeout_ms);
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // Sends "GET <object_name>" with no headers or body; true when the request
  // went out and the answer's head came back within the deadline (whatever
  // its status). The body is not read. The object name goes out as given, so
  // it must come encoded: one that fails IsPlainRequestTarget is refused
  // (false, nothing sent).
  bool SendGet(const std::string& object_name);

 private:
  // Lets go of the native part, which an exchange past its deadline shares on win32.
  struct Releaser {
    void operator()(Native* native) const;
  };
  explicit HttpConnection(Native* native);
  std::unique_ptr<Native, Releaser> native_;
};

// One download of a whole address (InternetOpenUrlA). The transfer runs on a
// thread of its own and the owner's calls wait on what it delivers, never in
// the network library, so a server that keeps the owner waiting longer than
// the stall limit fails the wait and Cancel ends any wait at once. From the
// request to the first byte of the body is one stall limit, however many
// redirects and however slowly the heads come. Redirects are followed (at
// most 30) when IsFollowableLocation allows their Location; once WaitForHead
// has the final response's head, its body is read in rounds: QueryAvailable,
// then Read. One thread owns the object; only Cancel may come from another.
class HttpDownload {
 public:
  struct Native;
  // Sends the request. `flags` are InternetOpenUrlA's (posix: ignored);
  // `stall_limit_ms` is the longest the answer's head or the next bytes of its
  // body may keep the owner waiting. Never null.
  static std::unique_ptr<HttpDownload> Start(HttpSession& session, const std::string& url,
                                             unsigned flags, uint32_t stall_limit_ms);
  // Leaves a transfer still running to end on its own.
  ~HttpDownload();
  HttpDownload(const HttpDownload&) = delete;
  HttpDownload& operator=(const HttpDownload&) = delete;

  // Waits for the final response's head. False on failure, with a WinINet
  // error code and the server's last response text (often empty): an empty
  // address fails, a stall gives 12002 (see stalled()), a cancel 12017. Posix
  // maps libcurl's failures to WinINet codes: host not resolved 12007,
  // connection refused or failed 12029, time-out 12002, bad address 12005,
  // unknown scheme 12006, too many redirects 12156, broken answer 12152,
  // connection reset or aborted 12030, anything else 12004.
  bool WaitForHead(uint32_t* error, std::string* response_text);
  // The final response's status code and Content-Length as decimal texts.
  // Either query fails when its buffer of 10 bytes is too small (a value of
  // more than 9 digits); the length query fails when there is no length.
  bool QueryStatus(std::string* digits);
  bool QueryContentLength(std::string* digits);
  // Waits until some of the body can be read; 0 at the end of the body (a
  // connection that closes early also ends it). False when the transfer
  // failed, stalled or was cancelled.
  bool QueryAvailable(uint32_t* bytes);
  // Reads up to `size` bytes, waiting until that many are in unless the body
  // ends first. False on a failure, stall or cancel before any byte was read.
  bool Read(void* buffer, uint32_t size, uint32_t* read);
  // True once a wait has failed because the server sent nothing for the stall limit.
  bool stalled() const;
  // True once WaitForHead has failed on a redirect that is not followed.
  bool redirect_refused() const;
  // The address of the final response (after the redirects followed); the
  // address asked for until its head is in.
  std::string final_url() const;
  // Ends the owner's current or next wait at once, with failure; safe from
  // any thread while the object lives.
  void Cancel();

 private:
  // Lets go of the native part, which the transfer thread on win32 shares.
  struct Releaser {
    void operator()(Native* native) const;
  };
  explicit HttpDownload(Native* native) : native_(native) {}
  std::unique_ptr<Native, Releaser> native_;
};

// Drops the system's cached copy of an address (DeleteUrlCacheEntryA; posix
// keeps no cache, so there is nothing to drop).
void DropCachedCopy(const std::string& url);

// False when the object name holds a control byte, the space or DEL: a CR LF
// could end the request line and smuggle in header lines.
bool IsPlainRequestTarget(const std::string& object_name);

// Whether a redirect to `location` (a Location header's value) is followed: it
// must be a plain request target (a CR LF sent on would split the request
// behind a proxy) and, when it names a scheme, name http or https.
bool IsFollowableLocation(const std::string& location);

}  // namespace platform
