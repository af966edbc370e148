// The loopback server of one test case: every request gets the same answer,
// and a watchdog stops the server should the client under test hang on it.
#pragma once

#include <cstdint>
#include <string>

#include "tests/servers/loopback_http_server.h"

namespace testing_servers {

// The address of `path` on a loopback server listening on `port`.
inline std::string LoopbackUrl(int port, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

class WatchedServer {
 public:
  explicit WatchedServer(const ResponsePlan& plan, uint32_t limit_ms = 20000)
      : started_(server_.Start(0)), watchdog_(server_, limit_ms) {
    server_.SetDefaultResponse(plan);
  }
  WatchedServer(const WatchedServer&) = delete;
  WatchedServer& operator=(const WatchedServer&) = delete;

  LoopbackHttpServer::StartResult started() const { return started_; }
  LoopbackHttpServer& server() { return server_; }
  std::string Url(const std::string& path) const { return LoopbackUrl(server_.port(), path); }
  // True when the watchdog had to stop the server (see ServerWatchdog).
  bool Dismiss() { return watchdog_.Dismiss(); }

 private:
  LoopbackHttpServer server_;
  LoopbackHttpServer::StartResult started_;
  ServerWatchdog watchdog_;
};

}  // namespace testing_servers
