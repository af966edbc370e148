// `kestrel-collector serve`: receives the event reports over HTTP, stores
// each before it answers, and serves /report and /metrics.
#pragma once

#include <memory>
#include <string>

#include "tools/collector/metrics.h"
#include "tools/collector/store.h"

struct ServerOptions {
  std::string host = "0.0.0.0";
  int port = 80;  // 0: any free port
  // Connections served at once; each waits for its commit, so this is also
  // the most records one commit can gather.
  int threads = 128;
  int keep_alive_requests = 10000;  // a report pass sends all it holds on one connection
  int keep_alive_ms = 5000;
  int timeout_ms = 5000;  // reading one request, writing one answer
};

class CollectorServer {
 public:
  CollectorServer(Store& store, const ServerOptions& options);
  ~CollectorServer();
  CollectorServer(const CollectorServer&) = delete;
  CollectorServer& operator=(const CollectorServer&) = delete;

  // Binds the address; the port bound, or -1.
  int Bind();
  // Serves until Stop; every answered report is stored when it returns.
  bool Run();
  // From any thread: ends Run after the requests in progress.
  void Stop();

  const Metrics& metrics() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};
