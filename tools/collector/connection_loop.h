// Every connection of the collector's listeners, on one thread (epoll): it
// reads request heads within their deadline and bounds, hands each whole head
// to the handler, and writes the answers that come back from any thread. An
// idle or trickling connection thus holds a buffer of at most one head and
// no thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tools/collector/address_book.h"
#include "tools/collector/metrics.h"
#include "tools/collector/request_head.h"

namespace collector {

struct ConnectionLimits {
  HeadLimits head;
  AddressLimits address;
  int head_timeout_ms = 10000;      // a whole head, from its first byte
  int keep_alive_ms = 5000;         // silence before a request's first byte
  int answer_timeout_ms = 10000;    // the peer taking one whole answer
  int keep_alive_requests = 10000;  // on one connection: a report pass sends all it holds on one
  int max_connections = 4096;       // on the report port
  // On the operator's, counted apart: a flood of reports never locks the
  // operator out of the page and the metrics.
  int max_operator_connections = 16;
  size_t max_answer_bytes = 4 << 20;
};

struct Request {
  uint64_t connection = 0;
  int listener = 0;  // as Listen numbered it
  RequestHead head;
  std::string peer;  // the client's numeric address
};

struct Answer {
  int status = 200;
  std::string content_type;  // none when empty
  std::string body;
  bool close = false;  // the connection ends after it
};

class RequestHandler {
 public:
  virtual ~RequestHandler() = default;
  // On the loop's thread, which it must not hold up; the answer goes to
  // ConnectionLoop::Answer, at once or later from any thread.
  virtual void Handle(Request request) = 0;
};

class ConnectionLoop {
 public:
  ConnectionLoop(const ConnectionLimits& limits, Metrics& metrics, RequestHandler& handler);
  ~ConnectionLoop();
  ConnectionLoop(const ConnectionLoop&) = delete;
  ConnectionLoop& operator=(const ConnectionLoop&) = delete;

  // Listens on host:port (port 0: any free one). The requests of the report
  // port (`reports`) spend their address's budget and are counted in the
  // metrics. The port bound, or -1 with the reason in `error`; `index` gets
  // the listener's number, which its requests carry.
  int Listen(const std::string& host, int port, bool reports, int* index, std::string* error);
  // Serves until Stop, then until every request under way is answered.
  void Run();
  // From any thread.
  void Stop();
  // From any thread, once for each Request handed out.
  void Respond(uint64_t connection, Answer answer);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace collector
