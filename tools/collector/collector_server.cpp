#include "tools/collector/collector_server.h"

#include <chrono>
#include <optional>

#include "diagnostics/request_encoding.h"
#include "tools/collector/commit_queue.h"
#include "tools/collector/funnel.h"
#include "tools/collector/funnel_compare.h"
#include "tools/collector/report_page.h"
#include "tools/collector/worker_pool.h"

namespace collector {

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

Answer Text(int status, const std::string& body) { return {status, "text/plain", body, false}; }

// The value of `name` in the target's query ('+' a blank, %HH a byte), as
// browsers send a form's fields.
std::optional<std::string> QueryValue(const std::string& target, const std::string& name) {
  const size_t query = target.find('?');
  if (query == std::string::npos) return std::nullopt;
  size_t start = query + 1;
  while (start <= target.size()) {
    size_t end = target.find('&', start);
    if (end == std::string::npos) end = target.size();
    const std::string pair = target.substr(start, end - start);
    const size_t equals = pair.find('=');
    if (pair.substr(0, equals) == name) {
      std::string value = equals == std::string::npos ? "" : pair.substr(equals + 1);
      for (char& c : value) {
        if (c == '+') c = ' ';
      }
      return diagnostics::DecodeRequestTarget(value);
    }
    start = end + 1;
  }
  return std::nullopt;
}

}  // namespace

class CollectorServer::Impl : public RequestHandler {
 public:
  Impl(Store& store, const ServerOptions& options)
      : store_(store),
        options_(options),
        loop_(options.limits, metrics_, *this),
        commits_(store, metrics_, options.max_store_bytes),
        // A connection has at most one request under way.
        reports_(options.threads, static_cast<size_t>(options.limits.max_connections)),
        // Page views one at a time: each reads the store.
        pages_(1, options.waiting_pages) {}

  int Bind() {
    int ignored;
    const int port = loop_.Listen(options_.host, options_.port, true, &ignored, &bind_error_);
    if (port < 0) return -1;
    admin_port_ = loop_.Listen(options_.admin_host, options_.admin_port, false, &admin_listener_,
                               &bind_error_);
    return admin_port_ < 0 ? -1 : port;
  }

  void Handle(Request request) override {
    if (request.listener == admin_listener_) {
      HandleAdmin(std::move(request));
    } else {
      HandleReport(std::move(request));
    }
  }

  void HandleReport(Request request) {
    std::optional<diagnostics::EventRecord> report;
    if (request.head.method == "GET" && request.head.target.compare(0, 2, "/?") == 0) {
      report = diagnostics::ParseReportTarget(request.head.target);
    }
    const uint64_t connection = request.connection;
    if (!report) {
      loop_.Respond(connection, Text(400, "not an event report\n"));
      return;
    }
    ReportRecord record{std::move(*report), NowMs(),
                        StoredAddress(request.peer, options_.store_address)};
    const bool posted = reports_.Post([this, connection, record = std::move(record)]() mutable {
      const CommitResult result = commits_.Submit(std::move(record));
      if (result == CommitResult::kStored) {
        loop_.Respond(connection, Answer{});
        return;
      }
      metrics_.CountRefusal(result == CommitResult::kStoreFull ? Refusal::kStoreFull
                                                               : Refusal::kStoreFailed);
      loop_.Respond(connection, Text(503, "not stored\n"));
    });
    // Never with a connection's one request at a time, but a request must not
    // be left unanswered.
    if (!posted) loop_.Respond(connection, Text(503, "not stored\n"));
  }

  void HandleAdmin(Request request) {
    const std::string& target = request.head.target;
    const std::string path = target.substr(0, target.find('?'));
    const uint64_t connection = request.connection;
    if (request.head.method != "GET" ||
        (path != "/metrics" && path != "/report" && path != "/healthz")) {
      loop_.Respond(connection, Text(404, "not found\n"));
    } else if (path == "/healthz") {
      // Served at all: the store is open and the loop answers.
      loop_.Respond(connection, Text(200, "ok\n"));
    } else if (path == "/metrics") {
      loop_.Respond(connection, {200, "text/plain; version=0.0.4", metrics_.Text(), false});
    } else if (!pages_.Post([this, connection, target] { ServePage(connection, target); })) {
      metrics_.CountRefusal(Refusal::kAdminBusy);
      loop_.Respond(connection, Text(503, "report pages busy\n"));
    }
  }

  // ?watermark=W one build; ?compare=OLD&with=NEW two side by side;
  // ?since=T&until=T the records received in that time (as `report`'s).
  void ServePage(uint64_t connection, const std::string& target) {
    FunnelFilter filter;
    PageQuery query;
    filter.watermark = QueryValue(target, "watermark");
    query.watermark = filter.watermark;
    query.since = QueryValue(target, "since").value_or("");
    query.until = QueryValue(target, "until").value_or("");
    const auto given = [](const std::string& text) {
      return text.empty() ? std::nullopt : std::optional<std::string>(text);
    };
    if (const char* bad = SetTimeRange(given(query.since), given(query.until), &filter)) {
      loop_.Respond(connection, Text(400, std::string(bad) + " takes YYYY-MM-DD[ hh:mm[:ss]]\n"));
      return;
    }
    const std::optional<std::string> compare = QueryValue(target, "compare");
    const std::optional<std::string> with = QueryValue(target, "with");
    query.compare = compare.value_or("");
    query.with = with.value_or("");
    if (query.compare.empty() != query.with.empty()) {
      loop_.Respond(connection, Text(400, "compare= and with= name two builds\n"));
      return;
    }
    // One reading of the store (of a time range: summed up once) for both.
    std::string error;
    std::optional<FunnelComparison> comparison;
    std::optional<FunnelReport> report;
    if (!query.compare.empty()) {
      report.emplace();
      comparison =
          BuildFunnelComparison(store_, filter, query.compare, query.with, &error, &*report);
    } else {
      report = BuildFunnelReport(store_, filter, &error);
    }
    if (!report || (!query.compare.empty() && !comparison)) {
      loop_.Respond(connection, Text(500, error + "\n"));
      return;
    }
    loop_.Respond(connection, {200, "text/html; charset=iso-8859-1",
                               RenderReportPage(*report, query, comparison), false});
  }

  Store& store_;
  const ServerOptions options_;
  std::string bind_error_;
  int admin_listener_ = -1;
  int admin_port_ = -1;
  Metrics metrics_;
  // Destroyed in reverse: the workers end first (their tasks commit and
  // answer), then the commit queue, then the loop.
  ConnectionLoop loop_;
  CommitQueue commits_;
  WorkerPool reports_;
  WorkerPool pages_;
};

CollectorServer::CollectorServer(Store& store, const ServerOptions& options)
    : impl_(std::make_unique<Impl>(store, options)) {}

CollectorServer::~CollectorServer() = default;

int CollectorServer::Bind() { return impl_->Bind(); }

const std::string& CollectorServer::bind_error() const { return impl_->bind_error_; }

int CollectorServer::admin_port() const { return impl_->admin_port_; }

bool CollectorServer::Run() {
  impl_->loop_.Run();
  return true;
}

void CollectorServer::Stop() { impl_->loop_.Stop(); }

const Metrics& CollectorServer::metrics() const { return impl_->metrics_; }

}  // namespace collector
