#include "tools/collector/collector_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>

#include "diagnostics/request_encoding.h"
#include "tools/collector/commit_queue.h"
#include "tools/collector/funnel.h"
#include "tools/collector/report_page.h"
#include "tools/collector/request_stream.h"

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The library's server with our own connection loop: its request lines pass
// through RequestStream, which gives the raw form the encoded one.
class NormalizingServer : public httplib::Server {
 public:
  explicit NormalizingServer(const ServerOptions& options) : options_(options) {}

  int BindAndListenDeep(const std::string& host, int port) {
    int bound = port;
    if (port == 0) {
      bound = bind_to_any_port(host);
    } else if (!bind_to_port(host, port)) {
      bound = -1;
    }
    // The library listens with a backlog of 5: a burst of new connections
    // would see refusals and retries of a second.
    if (bound > 0) ::listen(svr_sock_, 1024);
    return bound;
  }

 private:
  bool process_and_close_socket(int socket) override {
    RequestStream stream(socket, options_.timeout_ms);
    bool ok = false;
    for (int count = options_.keep_alive_requests; count > 0; --count) {
      // The wait for the next request looks at the listener now and then,
      // so that Stop is not held up by idle connections.
      bool arrived = false;
      for (int waited = 0; waited < options_.keep_alive_ms && svr_sock_ != INVALID_SOCKET;
           waited += 100) {
        arrived = stream.AwaitRequest(std::min(100, options_.keep_alive_ms - waited));
        if (arrived || stream.closed()) break;
      }
      if (!arrived) break;
      bool closed = false;
      ok = process_request(stream, count == 1 || svr_sock_ == INVALID_SOCKET, closed, nullptr);
      if (!ok || closed || stream.last_line_unreadable()) break;
    }
    ::shutdown(socket, SHUT_RDWR);
    ::close(socket);
    return ok;
  }

  ServerOptions options_;
};

}  // namespace

#if defined(__SANITIZE_THREAD__)
// Debian's HTTP library is built without ThreadSanitizer, so the race
// detector misses its synchronisation (the guard of a function-local static
// its request-line parser shares between threads) and reports its threads'
// first use of it as a race. Races in our own code stay reported.
extern "C" const char* __tsan_default_suppressions() { return "race:libcpp-httplib.so\n"; }
#endif

class CollectorServer::Impl {
 public:
  Impl(Store& store, const ServerOptions& options)
      : store_(store), options_(options), server_(options), commits_(store, metrics_) {
    const int threads = options.threads;
    server_.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server_.set_tcp_nodelay(true);
    server_.set_keep_alive_max_count(options.keep_alive_requests);
    server_.set_keep_alive_timeout((options.keep_alive_ms + 999) / 1000);
    server_.set_payload_max_length(64 * 1024);
    server_.set_pre_routing_handler([this](const httplib::Request& request,
                                           httplib::Response& response) {
      if (request.method == "GET" && (request.path == "/metrics" || request.path == "/report")) {
        return httplib::Server::HandlerResponse::Unhandled;
      }
      HandleReport(request, response);
      return httplib::Server::HandlerResponse::Handled;
    });
    server_.Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
      response.set_content(metrics_.Text(), "text/plain; version=0.0.4");
    });
    server_.Get("/report", [this](const httplib::Request& request, httplib::Response& response) {
      ServePage(request, response);
    });
    // Every answer passes here, the library's own refusals (a request line
    // it cannot read, a target too long) among them: none of those is a report.
    server_.set_logger([this](const httplib::Request&, const httplib::Response& response) {
      metrics_.CountRequest();
      if (response.status >= 400 && response.status < 500) metrics_.CountReject();
    });
  }

  void HandleReport(const httplib::Request& request, httplib::Response& response) {
    std::optional<ReportRecord> record;
    if (request.method == "GET" && request.path == "/" && request.body.empty()) {
      record = ParseReportTarget(DecodeRequestTarget(request.target));
    }
    if (!record) {
      response.status = 400;
      response.set_content("not an event report\n", "text/plain");
      return;
    }
    record->received_ms = NowMs();
    record->sender = request.remote_addr;
    if (commits_.Commit(std::move(*record))) {
      response.status = 200;
    } else {
      response.status = 503;
      response.set_content("not stored\n", "text/plain");
    }
  }

  void ServePage(const httplib::Request& request, httplib::Response& response) {
    FunnelFilter filter;
    if (request.has_param("watermark")) filter.watermark = request.get_param_value("watermark");
    std::string error;
    std::optional<FunnelReport> report = BuildFunnelReport(store_, filter, &error);
    if (!report) {
      response.status = 500;
      response.set_content(error + "\n", "text/plain");
      return;
    }
    response.set_content(RenderReportPage(*report), "text/html; charset=iso-8859-1");
  }

  Store& store_;
  ServerOptions options_;
  Metrics metrics_;
  NormalizingServer server_;
  CommitQueue commits_;
};

CollectorServer::CollectorServer(Store& store, const ServerOptions& options)
    : impl_(std::make_unique<Impl>(store, options)) {}

CollectorServer::~CollectorServer() = default;

int CollectorServer::Bind() {
  return impl_->server_.BindAndListenDeep(impl_->options_.host, impl_->options_.port);
}

bool CollectorServer::Run() { return impl_->server_.listen_after_bind(); }

void CollectorServer::Stop() { impl_->server_.stop(); }

const Metrics& CollectorServer::metrics() const { return impl_->metrics_; }
