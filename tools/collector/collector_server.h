// `kestrel-collector serve`: receives the event reports over HTTP on the
// report port and stores each before it answers; the operator's pages
// (/report, /metrics) are served on a listener of their own.
#pragma once

#include <memory>
#include <string>

#include "tools/collector/connection_loop.h"
#include "tools/collector/metrics.h"
#include "tools/collector/store.h"
#include "tools/collector/stored_address.h"

namespace collector {

// Loopback: what only the operator may see is never on the public port.
constexpr char kDefaultAdminHost[] = "127.0.0.1";
constexpr int kDefaultAdminPort = 9180;

struct ServerOptions {
  std::string host = "0.0.0.0";
  int port = 80;  // 0: any free port
  std::string admin_host = kDefaultAdminHost;
  int admin_port = kDefaultAdminPort;
  // Reports waiting for their commit at once, which is also the most
  // records one commit can gather.
  int threads = 128;
  ConnectionLimits limits;
  uint64_t max_store_bytes = 0;  // past it new reports get 503; 0: no bound
  size_t waiting_pages = 8;      // report pages queued behind the one being built
  AddressStorage store_address = AddressStorage::kTruncated;  // what is kept of a sender
};

class CollectorServer {
 public:
  CollectorServer(Store& store, const ServerOptions& options);
  ~CollectorServer();
  CollectorServer(const CollectorServer&) = delete;
  CollectorServer& operator=(const CollectorServer&) = delete;

  // Binds both listeners; the report port bound, or -1 (bind_error() says why).
  int Bind();
  const std::string& bind_error() const;
  int admin_port() const;
  // Serves until Stop; every answered report is stored when it returns.
  bool Run();
  // From any thread: ends Run after the requests in progress.
  void Stop();

  const Metrics& metrics() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace collector
