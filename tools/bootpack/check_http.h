// The one HTTP operation `bootpack check` needs: a GET whose head and body
// are handed to an observer as they arrive. The host build makes it with
// libcurl, the Windows build with the bootstrapper's own HTTP layer, so the
// Windows check sees the server as the bootstrapper will.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bootpack {

struct CheckRequest {
  std::string url;  // sent as given; redirects are followed
  std::string user_agent;
  unsigned session_flags = 0;  // the platform layer's flags (libcurl: ignored)
  unsigned request_flags = 0;
  uint32_t timeout_ms = 0;  // the longest any wait lasts: connecting, the head, the next bytes
};

struct CheckResponseHead {
  int status = 0;
  bool has_length = false;
  std::string length_digits;  // the Content-Length as sent
  int redirects = -1;         // -1 when the client does not tell
  std::string final_url;      // empty when the client does not tell
  std::string content_type;   // empty when absent or not told
};

class CheckObserver {
 public:
  virtual ~CheckObserver() = default;
  // The final response's head, before any of its body.
  virtual void OnHead(const CheckResponseHead& head) = 0;
  // False stops the transfer (the body is not wanted any further).
  virtual bool OnBody(const char* data, size_t size) = 0;
};

enum class TransferEnd {
  kComplete,      // the body ended (a connection closed early ends it too)
  kStopped,       // the observer wanted no more
  kNotResolved,   // the host name does not resolve
  kNotConnected,  // no connection could be made
  kTimedOut,      // a wait lasted the whole time-out
  kBroken,        // the connection broke or the answer was not HTTP
  kFailed,        // anything else (a bad address among them)
};

struct TransferResult {
  TransferEnd end = TransferEnd::kFailed;
  std::string address;  // the server's IP address, when the client tells it
  std::string detail;   // the client's own words for a failure
};

TransferResult CheckTransfer(const CheckRequest& request, CheckObserver* observer);

// Whether standard error is a terminal (a progress bar is drawn only there).
bool StderrIsTerminal();

}  // namespace bootpack
