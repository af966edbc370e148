// A small HTTP/1.1 server on 127.0.0.1 for tests: it keeps connections alive,
// records every request (target, headers, which connection) and answers each
// as a ResponsePlan says, faults included.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testing_servers {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct RecordedRequest {
  std::string method;
  std::string target;  // the request target exactly as it stood on the request line
  std::string version;
  HeaderList headers;  // in the order sent
  std::string body;
  int connection = 0;  // 1 for the first connection accepted, 2 for the next...
  int index = 0;       // 0 for the first request the server saw

  // Header lookups ignore the case of the name.
  bool HasHeader(const std::string& name) const;
  std::string Header(const std::string& name) const;
};

// How to answer one request.
struct ResponsePlan {
  enum class Action {
    kAnswer,              // status line, headers, body
    kCloseWithoutAnswer,  // read the request, then close the connection (FIN)
    kResetWithoutAnswer,  // read the request, then reset the connection (RST)
  };
  enum class Length {
    kExact,     // Content-Length: the body's size
    kAbsent,    // no Content-Length: the body ends when the connection closes
    kDeclared,  // Content-Length: declared_length, which may lie about the body
  };

  Action action = Action::kAnswer;
  int status = 200;
  std::string reason;  // empty: the usual phrase for the status
  HeaderList headers;  // extra headers, e.g. Location
  std::string body;
  Length length = Length::kExact;
  uint64_t declared_length = 0;
  // When not 0, the body is this many bytes of GeneratedBody, made piece by
  // piece as it is sent (so a body of any size costs no memory); `body` is
  // then not used.
  uint64_t generated_size = 0;
  uint32_t delay_before_answer_ms = 0;
  size_t chunk_size = 0;            // 0: the body in one write (a generated one in 64 KiB pieces)
  uint32_t chunk_delay_ms = 0;      // pause before each chunk after the first (a slow body)
  uint32_t head_line_delay_ms = 0;  // pause before each line of the head after the first
  bool close_after = false;         // close once answered (always so with Length::kAbsent)
  bool reset_after = false;         // reset (RST) once answered, whatever the length says
  // With reset_after: a pause first, so the client has read all that was sent
  // (a reset drops what it has not read yet).
  uint32_t pause_before_reset_ms = 0;

  static ResponsePlan Status(int status, std::string body = std::string());
  static ResponsePlan Redirect(int status, const std::string& location);
  static ResponsePlan CloseWithoutAnswer();
  static ResponsePlan ResetWithoutAnswer();
  // 200 with a body that the closing connection ends, and no Content-Length.
  static ResponsePlan WithoutLength(std::string body);
  // 200 announcing `declared_length` bytes, sending `body`, then closing.
  static ResponsePlan ShortBody(std::string body, uint64_t declared_length);
  // 200 announcing `declared_length` bytes, sending `body`, then resetting
  // the connection (RST): a connection torn down in the middle of the body.
  static ResponsePlan ResetMidBody(std::string body, uint64_t declared_length);
  // 200 announcing fewer bytes than `body` holds, sending all of it, then closing.
  static ResponsePlan LongBody(std::string body, uint64_t declared_length);
  // 200 announcing `total` bytes of GeneratedBody, sent one byte at a time
  // with `interval_ms` before each but the first: a server that trickles.
  static ResponsePlan Trickle(uint64_t total, uint32_t interval_ms);
  // 200 whose head comes one line at a time, `interval_ms` apart: `lines`
  // filler lines, then the usual ones.
  static ResponsePlan TrickleHead(int lines, uint32_t interval_ms);
  // 200 with `body`, its head padded by one header line of `header_bytes`.
  static ResponsePlan LargeHead(std::string body, size_t header_bytes);
  // 200 whose body comes in chunks with a pause before each but the first.
  static ResponsePlan SlowBody(std::string body, size_t chunk_size, uint32_t chunk_delay_ms);
  // 200 with `size` bytes of GeneratedBody and their Content-Length.
  static ResponsePlan Generated(uint64_t size);
  // Reads the request and says nothing until the server stops.
  static ResponsePlan Silent();
  // 200 announcing `total` bytes, sending the first `sent`, then silence
  // until the server stops.
  static ResponsePlan Stalling(uint64_t sent, uint64_t total);
};

// The generated body's bytes from `offset` on: a fixed pseudo-random pattern
// with a period of 65521 bytes (a prime, so no power-of-two block size lines
// up with it and a lost or repeated block shows).
void GeneratedBody(uint64_t offset, char* out, size_t size);
std::string GeneratedBody(uint64_t offset, size_t size);

// Chooses the answer for a request; called on the connection's own thread.
using Responder = std::function<ResponsePlan(const RecordedRequest&)>;

class LoopbackHttpServer {
 public:
  enum class StartResult { kOk, kPermissionDenied, kAddressInUse, kError };

  LoopbackHttpServer();
  ~LoopbackHttpServer();  // stops the server
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  // Listens on 127.0.0.1:port (0: a free port, see port()). While the port is
  // in use it keeps trying for up to `in_use_retry_ms`.
  StartResult Start(int port = 0, uint32_t in_use_retry_ms = 5000);
  // Closes the listener and every connection (abortively, so no TIME_WAIT
  // keeps the port) and joins the threads. Called by the destructor.
  void Stop();
  int port() const { return port_; }

  // The answer to every request when no responder is set: 200 with an empty body.
  void SetDefaultResponse(const ResponsePlan& plan);
  void SetResponder(Responder responder);

  std::vector<RecordedRequest> Requests() const;
  size_t RequestCount() const;
  int ConnectionCount() const;
  // True once at least `count` requests have arrived; false after the timeout.
  bool WaitForRequests(size_t count, uint32_t timeout_ms) const;

 private:
  struct Connection;
  void AcceptLoop();
  void Serve(Connection* connection);
  ResponsePlan PlanFor(const RecordedRequest& request);
  bool Answer(Connection* connection, const ResponsePlan& plan);

  intptr_t listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;

  mutable std::mutex mutex_;  // guards everything below
  mutable std::condition_variable arrived_;
  std::vector<RecordedRequest> requests_;
  std::vector<std::unique_ptr<Connection>> connections_;
  ResponsePlan default_plan_;
  Responder responder_;
};

// Stops the server if the test has not dismissed the watchdog within the
// limit: a client that waits for ever for a silent server then fails instead
// of hanging the run. Dismissed when destroyed.
class ServerWatchdog {
 public:
  ServerWatchdog(LoopbackHttpServer& server, uint32_t limit_ms);
  ~ServerWatchdog();
  ServerWatchdog(const ServerWatchdog&) = delete;
  ServerWatchdog& operator=(const ServerWatchdog&) = delete;

  // Ends the watch; true when the limit had passed and the server was stopped.
  bool Dismiss();

 private:
  std::mutex mutex_;
  std::condition_variable dismissed_;
  bool done_ = false;   // under mutex_
  bool fired_ = false;  // under mutex_
  std::thread thread_;
};

}  // namespace testing_servers
