// kestrel-collector: the log server for the bootstrapper's event reports.
//   kestrel-collector serve [--listen ADDR:PORT] [--admin-listen ADDR:PORT]
//                           [--db FILE | --db postgresql://...] [--threads N]
//                           [--address-connections N] [--address-rate N] [--max-db-mb N]
//                           [--store-address full|truncated|none]
//   kestrel-collector report [--db ...] [--watermark W | --compare OLD NEW]
//                            [--since T] [--until T] [--json]
//   kestrel-collector prune [--db ...] --older-than DAYS
//   kestrel-collector migrate [--db ...]
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <thread>

#include "tools/collector/collector_server.h"
#include "tools/collector/funnel.h"
#include "tools/collector/funnel_compare.h"
#include "tools/collector/report_text.h"
#include "tools/collector/service.h"
#include "tools/collector/stored_address.h"
#include "tools/common/cli_args.h"

namespace {

constexpr char kUsage[] =
    "usage: kestrel-collector serve [--listen ADDR:PORT] [--admin-listen ADDR:PORT]\n"
    "                               [--db FILE | --db postgresql://...] [--threads N]\n"
    "                               [--address-connections N] [--address-rate N]\n"
    "                               [--max-db-mb N] [--store-address full|truncated|none]\n"
    "       kestrel-collector report [--db ...] [--watermark W | --compare OLD NEW]\n"
    "                                [--since T] [--until T] [--json]\n"
    "       kestrel-collector prune [--db ...] --older-than DAYS\n"
    "       kestrel-collector migrate [--db ...]\n"
    "The default store is the SQLite file kestrel-collector.db; the default address\n"
    "0.0.0.0:80, the operator's pages (/report, /metrics, /healthz) on 127.0.0.1:9180.\n"
    "Under systemd it tells its readiness ($NOTIFY_SOCKET) and logs its counts a minute.\n"
    "A client address may hold 32 connections and send 20 requests a second (200 at once).\n"
    "Past --max-db-mb, new reports are refused (503) and counted; prune removes the\n"
    "reports received more than DAYS ago and keeps counting them in the funnel (until\n"
    "a collector whose aggregates have another version builds them from what is left).\n"
    "migrate brings the store's schema up to date, as every command does first; any\n"
    "number of serve processes may share one postgresql:// database.\n"
    "A sender's address is stored without its last octet (IPv4) or last 80 bits (IPv6)\n"
    "unless --store-address says otherwise. A report sent again is stored once.\n"
    "--compare sets two builds' funnels side by side and exits 1 when a step's\n"
    "conversion is significantly worse in NEW (one-sided two-proportion z-test, p < 0.01),\n"
    "0 when none is, 3 when the store cannot be read.\n"
    "T is a UTC time \"YYYY-MM-DD[ hh:mm[:ss]]\": --since counts the reports received\n"
    "from then on, --until those received before then.\n";
constexpr char kDefaultStore[] = "kestrel-collector.db";

int Usage(const std::string& error) {
  if (!error.empty()) std::fprintf(stderr, "kestrel-collector: %s\n", error.c_str());
  std::fputs(kUsage, error.empty() ? stdout : stderr);
  return error.empty() ? 0 : 2;
}

std::unique_ptr<collector::Store> Open(const tools::ParsedArgs& args) {
  const std::string location = args.options.count("--db") ? args.Option("--db") : kDefaultStore;
  std::string error;
  std::unique_ptr<collector::Store> store = collector::OpenStore(location, &error);
  if (!store) std::fprintf(stderr, "kestrel-collector: %s\n", error.c_str());
  return store;
}

// "ADDR:PORT" (an IPv6 address in brackets); false when it is none.
bool ParseAddress(const std::string& text, std::string* host, int* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size() ||
      text.find_first_not_of("0123456789", colon + 1) != std::string::npos) {
    return false;
  }
  *host = text.substr(0, colon);
  if (host->size() >= 2 && host->front() == '[' && host->back() == ']') {
    *host = host->substr(1, host->size() - 2);
  }
  *port = std::atoi(text.c_str() + colon + 1);
  return *port <= 65535;
}

// A positive whole number, when the option is given; false when it is none.
bool WholeNumber(const tools::ParsedArgs& args, const char* flag, long* value) {
  if (!args.options.count(flag)) return true;
  const std::string text = args.Option(flag);
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *value = std::atol(text.c_str());
  return *value > 0;
}

int Serve(const tools::ParsedArgs& args) {
  collector::ServerOptions options;
  for (const char* flag : {"--listen", "--admin-listen"}) {
    if (!args.options.count(flag)) continue;
    const bool admin = std::string(flag) == "--admin-listen";
    if (!ParseAddress(args.Option(flag), admin ? &options.admin_host : &options.host,
                      admin ? &options.admin_port : &options.port)) {
      return Usage(std::string(flag) + " takes ADDR:PORT: " + args.Option(flag));
    }
  }
  long threads = options.threads, connections = options.limits.address.connections,
       rate = static_cast<long>(options.limits.address.requests_per_second), megabytes = 0;
  for (auto [flag, value] : {std::pair<const char*, long*>{"--threads", &threads},
                             {"--address-connections", &connections},
                             {"--address-rate", &rate},
                             {"--max-db-mb", &megabytes}}) {
    if (!WholeNumber(args, flag, value))
      return Usage(std::string(flag) + " takes a positive number");
  }
  if (args.options.count("--store-address")) {
    const std::optional<collector::AddressStorage> storage =
        collector::ParseAddressStorage(args.Option("--store-address"));
    if (!storage) return Usage("--store-address takes full, truncated or none");
    options.store_address = *storage;
  }
  options.threads = static_cast<int>(threads);
  options.max_store_bytes = static_cast<uint64_t>(megabytes) << 20;
  options.limits.address.connections = static_cast<int>(connections);
  options.limits.address.requests_per_second = static_cast<double>(rate);
  // A report pass sends all its sender holds at once: ten seconds' worth.
  options.limits.address.request_burst = 10.0 * static_cast<double>(rate);

  // SIGINT and SIGTERM end the server in order: what was answered is stored.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  // Every connection is a file descriptor: the bound must fit under the
  // process's limit, raised as far as the system lets it.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    const int others = options.limits.max_operator_connections + 64;
    const rlim_t wanted = static_cast<rlim_t>(options.limits.max_connections + others);
    if (files.rlim_cur < wanted) {
      files.rlim_cur = std::min(wanted, files.rlim_max);
      setrlimit(RLIMIT_NOFILE, &files);
      getrlimit(RLIMIT_NOFILE, &files);
    }
    if (files.rlim_cur < wanted) {
      options.limits.max_connections = static_cast<int>(files.rlim_cur) - others;
      std::fprintf(stderr, "kestrel-collector: at most %d connections (open-file limit %llu)\n",
                   options.limits.max_connections, static_cast<unsigned long long>(files.rlim_cur));
    }
  }

  std::unique_ptr<collector::Store> store = Open(args);
  if (!store) return 1;
  collector::CollectorServer server(*store, options);
  const int port = server.Bind();
  if (port < 0) {
    std::fprintf(stderr, "kestrel-collector: %s\n", server.bind_error().c_str());
    return 1;
  }
  std::printf("kestrel-collector: listening on %s:%d\n", options.host.c_str(), port);
  std::printf("kestrel-collector: operator pages on %s:%d\n", options.admin_host.c_str(),
              server.admin_port());
  std::fflush(stdout);
  // The store is open and both ports are bound: a service manager may send traffic.
  collector::NotifyServiceManager("READY=1");
  collector::MinuteLog minute_log(server.metrics());
  std::thread stopper([&server, stop_signals] {
    int signal = 0;
    sigwait(&stop_signals, &signal);
    collector::NotifyServiceManager("STOPPING=1");
    server.Stop();
  });
  const bool ok = server.Run();
  if (!ok) {
    // Run ended without a signal: wake the stopper so it can be joined.
    pthread_kill(stopper.native_handle(), SIGTERM);
  }
  stopper.join();
  const collector::Metrics& m = server.metrics();
  std::printf("kestrel-collector: %llu requests, %llu reports stored, %llu rejected\n",
              static_cast<unsigned long long>(m.requests()),
              static_cast<unsigned long long>(m.records()),
              static_cast<unsigned long long>(m.rejects()));
  return 0;
}

int Report(const tools::ParsedArgs& args) {
  collector::FunnelFilter filter;
  if (args.options.count("--watermark")) filter.watermark = args.Option("--watermark");
  const auto given = [&args](const char* flag) {
    return args.options.count(flag) ? std::optional<std::string>(args.Option(flag)) : std::nullopt;
  };
  if (const char* bad = collector::SetTimeRange(given("--since"), given("--until"), &filter))
    return Usage("--" + std::string(bad) + " takes \"YYYY-MM-DD[ hh:mm[:ss]]\"");
  const bool compare = args.options.count("--compare") != 0;
  if (compare != (args.positional.size() == 1) || args.positional.size() > 1) {
    return Usage(compare ? "--compare takes two watermarks, OLD NEW"
                         : "unexpected " + args.positional[0]);
  }
  if (compare && filter.watermark) return Usage("--compare and --watermark do not go together");
  // A comparison's 1 means a worse build: a store it cannot read is told apart.
  const int store_failed = compare ? 3 : 1;
  std::unique_ptr<collector::Store> store = Open(args);
  if (!store) return store_failed;
  std::string error;
  if (compare) {
    std::optional<collector::FunnelComparison> comparison = collector::BuildFunnelComparison(
        *store, filter, args.Option("--compare"), args.positional[0], &error);
    if (!comparison) {
      std::fprintf(stderr, "kestrel-collector: %s\n", error.c_str());
      return store_failed;
    }
    const std::string text =
        args.Has("--json") ? ComparisonAsJson(*comparison) : ComparisonAsText(*comparison);
    std::fwrite(text.data(), 1, text.size(), stdout);
    // A scheduled job tells a worse build by the status alone.
    return comparison->worse_steps > 0 ? 1 : 0;
  }
  std::optional<collector::FunnelReport> report = BuildFunnelReport(*store, filter, &error);
  if (!report) {
    std::fprintf(stderr, "kestrel-collector: %s\n", error.c_str());
    return 1;
  }
  const std::string text = args.Has("--json") ? ReportAsJson(*report) : ReportAsText(*report);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}

int Prune(const tools::ParsedArgs& args) {
  long days = 0;
  if (!args.options.count("--older-than") || !WholeNumber(args, "--older-than", &days)) {
    return Usage("prune takes --older-than DAYS, a positive number");
  }
  std::unique_ptr<collector::Store> store = Open(args);
  if (!store) return 1;
  const int64_t now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  std::string error;
  std::optional<uint64_t> removed = store->Prune(now_ms - days * 86400000LL, &error);
  if (!removed) {
    std::fprintf(stderr, "kestrel-collector: %s\n", error.c_str());
    return 1;
  }
  std::printf("kestrel-collector: %llu reports received more than %ld days ago removed\n",
              static_cast<unsigned long long>(*removed), days);
  return 0;
}

int Migrate(const tools::ParsedArgs& args) {
  std::unique_ptr<collector::Store> store = Open(args);
  if (!store) return 1;
  const collector::SchemaChange& change = store->schema_change();
  for (const collector::SchemaStep* step : change.applied) {
    std::printf("kestrel-collector: applied step %d: %s\n", step->version, step->what);
  }
  if (change.aggregates_rebuilt)
    std::printf("kestrel-collector: aggregates built from the records\n");
  if (change.applied.empty()) {
    std::printf("kestrel-collector: the schema is at version %d: nothing to do\n", change.to);
  } else {
    std::printf("kestrel-collector: the schema went from version %d to %d\n", change.from,
                change.to);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  struct Command {
    const char* name;
    std::set<std::string> options;
    std::set<std::string> switches;
    int (*run)(const tools::ParsedArgs&);
    bool checks_positional = false;  // `run` judges the positional arguments itself
  };
  const Command commands[] = {
      {"serve",
       {"--listen", "--admin-listen", "--db", "--threads", "--address-connections",
        "--address-rate", "--max-db-mb", "--store-address"},
       {},
       Serve},
      {"report",
       {"--db", "--watermark", "--since", "--until", "--compare"},
       {"--json"},
       Report,
       true},
      {"prune", {"--db", "--older-than"}, {}, Prune},
      {"migrate", {"--db"}, {}, Migrate},
  };
  std::vector<std::string> rest(argv + 1, argv + argc);
  if (rest.empty()) return Usage("a command is needed: serve, report, prune or migrate");
  const std::string name = rest.front();
  rest.erase(rest.begin());
  if (name == "-h" || name == "--help") return Usage("");
  for (const Command& command : commands) {
    if (name != command.name) continue;
    tools::ParsedArgs args = tools::ParseArgs(rest, command.options, command.switches);
    if (args.help) return Usage("");
    if (!args.error.empty() || (!args.positional.empty() && !command.checks_positional)) {
      return Usage(args.error.empty() ? "unexpected " + args.positional[0] : args.error);
    }
    return command.run(args);
  }
  return Usage("no such command: " + name);
}
