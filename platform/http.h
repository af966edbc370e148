// HTTP client (WinINet on win32, libcurl on posix).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class HttpConnection;

// WinINet's error numbers. The posix layer gives the same for libcurl's
// failures, so callers describe them alike on both.
namespace http_error {
constexpr uint32_t kTimeout = 12002;
constexpr uint32_t kInternal = 12004;
constexpr uint32_t kInvalidUrl = 12005;
constexpr uint32_t kUnrecognizedScheme = 12006;
constexpr uint32_t kNameNotResolved = 12007;
constexpr uint32_t kCancelled = 12017;
constexpr uint32_t kCannotConnect = 12029;
constexpr uint32_t kConnectionAborted = 12030;
constexpr uint32_t kConnectionReset = 12031;
constexpr uint32_t kInvalidServerResponse = 12152;
constexpr uint32_t kRedirectFailed = 12156;
constexpr uint32_t kCertificateExpired = 12037;           // or not yet valid
constexpr uint32_t kCertificateWrongName = 12038;         // it names another host
constexpr uint32_t kCertificateUntrusted = 12045;         // its authority is in no trusted store
constexpr uint32_t kCertificateErrors = 12055;            // more than one of these
constexpr uint32_t kCertificateRevocationFailed = 12057;  // Wine's word for a chain cut short
constexpr uint32_t kSocketTimeout = 10060;  // WSAETIMEDOUT, which Wine gives for a time-out
constexpr uint32_t kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER: an empty address
}  // namespace http_error

// What a session keeps and shows (posix: libcurl keeps no cookies and shows
// no UI anyway).
struct HttpSessionOptions {
  bool no_cookies = false;
  bool no_ui = false;
};

// How a download's request is made (posix: libcurl does all this itself).
struct HttpRequestOptions {
  bool reuse_connection = false;  // an existing connection, and kept open afterwards
  bool passive = false;           // passive mode where the scheme has one
  bool revalidate_cache = false;  // a cached copy is checked with the server first
};

// An internet session (InternetOpenA with the system's proxy settings).
class HttpSession {
 public:
  struct Native;
  // Null when the session cannot be opened.
  static std::unique_ptr<HttpSession> Open(const std::string& user_agent,
                                           const HttpSessionOptions& options = {});
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

// What became of one request that SendGet made.
struct HttpAnswer {
  int status = 0;              // the answer's status; 0 without an answer
  uint32_t error = 0;          // an http_error number when there was no answer
  std::string remote_address;  // the server's IP address; empty where the client does not tell
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
  // (false, nothing sent). `answer`, when given, tells more.
  bool SendGet(const std::string& object_name, HttpAnswer* answer = nullptr);

 private:
  // Lets go of the native part, which an exchange past its deadline shares on win32.
  struct Releaser {
    void operator()(Native* native) const;
  };
  explicit HttpConnection(Native* native);
  std::unique_ptr<Native, Releaser> native_;
};

// A download's final response head, as the server sent it.
struct HttpHead {
  int status = 0;  // 0 when it had none (or more than 9 digits)
  bool has_length = false;
  std::string length;          // the Content-Length as sent
  std::string content_type;    // empty when there is none
  std::string etag;            // what tells this version of the file; empty: none
  std::string last_modified;   // the same as a date
  std::string content_range;   // a partial answer's "bytes N-E/T"
  int redirects = 0;           // followed on the way
  std::string final_url;       // the address it came from
  std::string remote_address;  // the server's IP address; empty where the client does not tell
};

// The part of a file a download asks for: all of it, or from `from` on
// ("Range: bytes=N-") provided it is still the version `validator` names
// (If-Range with the first answer's ETag or Last-Modified), which a server
// answers with the whole file (200) when it has changed.
struct HttpRange {
  uint64_t from = 0;  // 0: the whole file
  std::string validator;
};

// False for an empty value or one with a control byte: a server's own text
// with a line end, sent back in a request, would add a header line.
bool IsPlainHeaderValue(const std::string& value);

// The request's header lines (no line ends) that ask for `range`: Range and
// If-Range, or none for the whole file and for a validator that is no plain
// header value (the whole file is asked for then).
std::vector<std::string> RangeHeaderLines(const HttpRange& range);

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
  // Sends the request. `stall_limit_ms` is the longest the answer's head or
  // the next bytes of its body may keep the owner waiting. Never null.
  static std::unique_ptr<HttpDownload> Start(HttpSession& session, const std::string& url,
                                             const HttpRequestOptions& options,
                                             uint32_t stall_limit_ms,
                                             const HttpRange& range = HttpRange());
  // Leaves a transfer still running to end on its own.
  ~HttpDownload();
  HttpDownload(const HttpDownload&) = delete;
  HttpDownload& operator=(const HttpDownload&) = delete;

  // Waits for the final response's head. False on failure, with an error
  // number of http_error and the server's last response text (often empty):
  // an empty address fails (kInvalidParameter), a stall gives kTimeout (see
  // stalled()), a cancel kCancelled, a redirect not followed or too many
  // kRedirectFailed. Posix gives: host not resolved kNameNotResolved,
  // connection refused or failed kCannotConnect, bad address kInvalidUrl,
  // unknown scheme kUnrecognizedScheme, broken answer kInvalidServerResponse,
  // connection reset or aborted kConnectionAborted, anything else kInternal.
  bool WaitForHead(uint32_t* error, std::string* response_text);
  // The final response's head, once WaitForHead has given true.
  const HttpHead& head() const;
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
