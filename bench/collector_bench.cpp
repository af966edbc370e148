// kestrel-collector under load: many concurrent loopback connections, each
// sending reports one after another over keep-alive as a report pass does,
// against a real server over SQLite (and PostgreSQL when one can be started).
// Prints reports/s and the p50/p99 answer time; the peer is the same store
// committing each record alone, which is what grouping saves. On PostgreSQL
// also two collectors on one database, the clients spread over both, against
// one collector measured in the same run.
//   collector_bench [--connections N] [--seconds S] [--soak N]
// --soak N sends N reports in all and checks that every answered one is
// stored exactly once (run by hand; a million takes a few minutes).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

#include "bench/bench_figure.h"
#include "tests/collector/test_support.h"
#include "tools/collector/collector_server.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr char kTime[] = "2026-12-07 22:56:28.094";

struct Load {
  uint64_t answered = 0;
  uint64_t failed = 0;
  double seconds = 0;
  std::vector<double> latencies_ms;
  std::vector<std::string> tokens;  // of the answered reports (soak only)
};

double Percentile(std::vector<double>& values, double fraction) {
  if (values.empty()) return 0;
  const size_t rank = std::min(values.size() - 1, static_cast<size_t>(fraction * values.size()));
  std::nth_element(values.begin(), values.begin() + rank, values.end());
  return values[rank];
}

// `connections` clients, spread over `ports`, until `seconds` pass or `total`
// reports are sent; the tokens begin with `prefix` (a store keeps a record
// sent twice once).
Load Drive(const std::vector<int>& ports, int connections, double seconds, uint64_t total,
           bool keep_tokens, const std::string& prefix = "bench-") {
  Load load;
  std::mutex lock;
  std::atomic<uint64_t> next{0};
  const Clock::time_point start = Clock::now();
  const Clock::time_point end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> clients;
  for (int c = 0; c < connections; ++c) {
    clients.emplace_back([&, c] {
      collector_test::RawClient client(ports[static_cast<size_t>(c) % ports.size()]);
      std::vector<double> latencies;
      std::vector<std::string> tokens;
      uint64_t answered = 0, failed = 0;
      for (;;) {
        const uint64_t n = next.fetch_add(1);
        if ((total && n >= total) || (!total && Clock::now() >= end)) break;
        const std::string token = prefix + std::to_string(n);
        // Every other report in the raw form of older executables.
        const std::string line = collector_test::ReportLine(token, 3000, kTime, n % 2 == 1);
        const Clock::time_point sent = Clock::now();
        const int status = client.Send(line);
        latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        if (status == 200) {
          ++answered;
          if (keep_tokens) tokens.push_back(token);
        } else {
          ++failed;
        }
      }
      std::lock_guard<std::mutex> guard(lock);
      load.answered += answered;
      load.failed += failed;
      load.latencies_ms.insert(load.latencies_ms.end(), latencies.begin(), latencies.end());
      for (std::string& t : tokens) load.tokens.push_back(std::move(t));
    });
  }
  for (std::thread& t : clients) t.join();
  load.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return load;
}

// The peer: the same store, one commit per record, for `seconds`.
double SingleCommitsPerSecond(collector::Store& store, double seconds) {
  const Clock::time_point start = Clock::now();
  uint64_t done = 0;
  std::string error;
  while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
    collector::ReportRecord r;
    r.token = "peer-" + std::to_string(done);
    r.event_id = 3000;
    r.description = "Launched Bootstrapper on user's machine.";
    r.timestamp = kTime;
    r.sender = "127.0.0.1";
    if (!store.Append({r}, &error)) break;
    ++done;
  }
  return done / std::chrono::duration<double>(Clock::now() - start).count();
}

collector::ServerOptions BenchOptions(int connections) {
  collector::ServerOptions options;
  options.host = "127.0.0.1";
  options.port = 0;
  options.admin_port = 0;
  options.threads = connections + 4;
  // One client address: its bounds are lifted, so that the figure is the
  // server's throughput.
  options.limits.address.connections = connections + 4;
  options.limits.address.requests_per_second = 1e9;
  options.limits.address.request_burst = 1e9;
  return options;
}

// Reports/s of `count` collectors in this process, each with its own store
// on `location` (one PostgreSQL database), the clients spread over them.
std::optional<double> SharedRate(const std::string& location, int count, int connections,
                                 double seconds, const std::string& prefix) {
  std::vector<std::unique_ptr<collector::Store>> stores;
  std::vector<std::unique_ptr<collector::CollectorServer>> servers;
  std::vector<std::thread> serving;
  std::vector<int> ports;
  std::string error;
  for (int i = 0; i < count; ++i) {
    stores.push_back(collector::OpenStore(location, &error));
    if (!stores.back()) return std::nullopt;
    servers.push_back(
        std::make_unique<collector::CollectorServer>(*stores.back(), BenchOptions(connections)));
    ports.push_back(servers.back()->Bind());
    if (ports.back() <= 0) return std::nullopt;
  }
  for (auto& server : servers) serving.emplace_back([&server] { server->Run(); });
  const Load load = Drive(ports, connections, seconds, 0, false, prefix);
  for (auto& server : servers) server->Stop();
  for (std::thread& t : serving) t.join();
  std::printf(
      "PostgreSQL, %d collector(s) on one database, %d connections: %llu answered (%llu "
      "not) in %.2f s: %.0f reports/s\n",
      count, connections, static_cast<unsigned long long>(load.answered),
      static_cast<unsigned long long>(load.failed), load.seconds, load.answered / load.seconds);
  return load.answered / load.seconds;
}

// One collector and two on fresh databases of one server, in the same run.
bool BenchScaleOut(collector_test::PostgresServer& postgres, int connections, double seconds) {
  const std::optional<double> one =
      SharedRate(postgres.CreateDatabase("bench_one"), 1, connections, seconds, "one-");
  const std::optional<double> two =
      SharedRate(postgres.CreateDatabase("bench_two"), 2, connections, seconds, "two-");
  if (!one || !two) {
    std::printf("PostgreSQL scale-out: a store or a listener did not open\n");
    return false;
  }
  char ours[48], theirs[48];
  std::snprintf(ours, sizeof ours, "%.0f reports/s", *two);
  std::snprintf(theirs, sizeof theirs, "%.0f reports/s", *one);
  PrintFigure("Host: collector, PostgreSQL, two collectors on one database, " +
                  std::to_string(connections) + " connections",
              ours, "one collector", theirs, *two / *one, "-", "-");
  return true;
}

bool Bench(const std::string& name, const std::string& location, int connections, double seconds,
           uint64_t soak) {
  std::string error;
  std::unique_ptr<collector::Store> store = collector::OpenStore(location, &error);
  if (!store) {
    std::printf("%s: cannot open the store: %s\n", name.c_str(), error.c_str());
    return false;
  }
  const collector::ServerOptions options = BenchOptions(connections);
  Load load;
  uint64_t commits = 0;
  {
    collector::CollectorServer server(*store, options);
    const int port = server.Bind();
    if (port <= 0) return false;
    std::thread serving([&server] { server.Run(); });
    load = Drive({port}, connections, seconds, soak, soak != 0);
    server.Stop();
    serving.join();
    commits = server.metrics().commits();
  }
  const double rate = load.answered / load.seconds;
  const double p50 = Percentile(load.latencies_ms, 0.5);
  const double p99 = Percentile(load.latencies_ms, 0.99);
  std::printf(
      "%s, %d connections: %llu answered (%llu not) in %.2f s: %.0f reports/s, "
      "p50 %.2f ms, p99 %.2f ms, %.1f reports per commit\n",
      name.c_str(), connections, static_cast<unsigned long long>(load.answered),
      static_cast<unsigned long long>(load.failed), load.seconds, rate, p50, p99,
      commits ? static_cast<double>(load.answered) / commits : 0.0);

  bool ok = true;
  if (soak) {
    std::unordered_map<std::string, int> stored;
    stored.reserve(soak);
    if (!store->ForEach(
            0, [&stored](const collector::ReportRecord& r) { ++stored[r.token]; }, &error)) {
      std::printf("soak: cannot read the store back: %s\n", error.c_str());
      return false;
    }
    uint64_t missing = 0, doubled = 0;
    for (const std::string& token : load.tokens) {
      auto found = stored.find(token);
      if (found == stored.end()) ++missing;
    }
    for (const auto& [token, count] : stored) doubled += count > 1;
    std::printf("soak: %llu answered, %zu stored, %llu answered but missing, %llu stored twice\n",
                static_cast<unsigned long long>(load.answered), stored.size(),
                static_cast<unsigned long long>(missing), static_cast<unsigned long long>(doubled));
    ok = missing == 0 && doubled == 0 && load.failed == 0;
    return ok;
  }
  const double peer = SingleCommitsPerSecond(*store, 2.0);
  std::printf("%s peer: the store committing each record alone: %.0f records/s\n", name.c_str(),
              peer);
  char ours[96], theirs[48];
  std::snprintf(ours, sizeof ours, "%.0f reports/s, p50 %.1f ms, p99 %.1f ms", rate, p50, p99);
  std::snprintf(theirs, sizeof theirs, "%.0f records/s", peer);
  const bool sqlite = name == "SQLite";
  PrintFigure("Host: collector, " + name + ", " + std::to_string(connections) + " connections",
              ours, "one commit per record", theirs, rate / peer,
              sqlite ? ">= 5000/s, p99 < 50 ms" : "-",
              sqlite ? ((rate >= 5000 && p99 < 50) ? "met" : "MISSED") : "-");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  int connections = 64;
  double seconds = 5;
  uint64_t soak = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--connections")) connections = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
    if (!std::strcmp(argv[i], "--soak")) soak = std::strtoull(argv[i + 1], nullptr, 10);
  }
  collector_test::TempFolder folder;
  bool ok = Bench("SQLite", folder.path() + "/reports.db", connections, seconds, soak);
  if (soak) return ok ? 0 : 1;
  std::string why_not;
  std::unique_ptr<collector_test::PostgresServer> postgres =
      collector_test::PostgresServer::Start(&why_not, true);
  if (postgres) {
    ok = Bench("PostgreSQL", postgres->CreateDatabase("bench"), connections, seconds, 0) && ok;
    ok = BenchScaleOut(*postgres, connections, seconds) && ok;
  } else {
    std::printf("PostgreSQL: not measured: %s\n", why_not.c_str());
  }
  return ok ? 0 : 1;
}
