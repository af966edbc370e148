// kestrel-collector: the log server for the bootstrapper's event reports.
//   kestrel-collector serve [--listen ADDR:PORT] [--db FILE | --db postgresql://...]
//                           [--threads N]
//   kestrel-collector report [--db ...] [--watermark W] [--since T] [--json]
#include <signal.h>

#include <cstdio>
#include <thread>

#include "tools/bootpack/cli_args.h"
#include "tools/collector/collector_server.h"
#include "tools/collector/funnel.h"
#include "tools/collector/report_text.h"

namespace {

constexpr char kUsage[] =
    "usage: kestrel-collector serve [--listen ADDR:PORT] [--db FILE | --db postgresql://...]\n"
    "                               [--threads N]\n"
    "       kestrel-collector report [--db ...] [--watermark W] [--since T] [--json]\n"
    "The default store is the SQLite file kestrel-collector.db; the default address\n"
    "0.0.0.0:80. T is a UTC time \"YYYY-MM-DD[ hh:mm[:ss]]\" the reports were received from.\n";
constexpr char kDefaultStore[] = "kestrel-collector.db";

int Usage(const std::string& error) {
  if (!error.empty()) std::fprintf(stderr, "kestrel-collector: %s\n", error.c_str());
  std::fputs(kUsage, error.empty() ? stdout : stderr);
  return error.empty() ? 0 : 2;
}

std::unique_ptr<Store> Open(const bootpack::ParsedArgs& args) {
  const std::string location = args.options.count("--db") ? args.Option("--db") : kDefaultStore;
  std::string error;
  std::unique_ptr<Store> store = OpenStore(location, &error);
  if (!store) std::fprintf(stderr, "kestrel-collector: %s\n", error.c_str());
  return store;
}

int Serve(const bootpack::ParsedArgs& args) {
  ServerOptions options;
  if (args.options.count("--listen")) {
    const std::string listen = args.Option("--listen");
    const size_t colon = listen.rfind(':');
    if (colon == std::string::npos) return Usage("--listen takes ADDR:PORT");
    options.host = listen.substr(0, colon);
    options.port = std::atoi(listen.c_str() + colon + 1);
    if (options.port < 0 || options.port > 65535) return Usage("no such port: " + listen);
  }
  if (args.options.count("--threads"))
    options.threads = std::atoi(args.Option("--threads").c_str());
  if (options.threads < 1) return Usage("--threads takes a positive number");

  // SIGINT and SIGTERM end the server in order: what was answered is stored.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  std::unique_ptr<Store> store = Open(args);
  if (!store) return 1;
  CollectorServer server(*store, options);
  const int port = server.Bind();
  if (port < 0) {
    std::fprintf(stderr, "kestrel-collector: cannot listen on %s:%d\n", options.host.c_str(),
                 options.port);
    return 1;
  }
  std::printf("kestrel-collector: listening on %s:%d\n", options.host.c_str(), port);
  std::fflush(stdout);
  std::thread stopper([&server, stop_signals] {
    int signal = 0;
    sigwait(&stop_signals, &signal);
    server.Stop();
  });
  const bool ok = server.Run();
  if (!ok) {
    // Run ended without a signal: wake the stopper so it can be joined.
    pthread_kill(stopper.native_handle(), SIGTERM);
  }
  stopper.join();
  const Metrics& m = server.metrics();
  std::printf("kestrel-collector: %llu requests, %llu reports stored, %llu rejected\n",
              static_cast<unsigned long long>(m.requests()),
              static_cast<unsigned long long>(m.records()),
              static_cast<unsigned long long>(m.rejects()));
  return 0;
}

bool ParseSince(std::string text, int64_t* ms) {
  const std::string zero = "1970-01-01 00:00:00.000";
  if (text.size() < 10 || text.size() > zero.size()) return false;
  text += zero.substr(text.size());
  std::optional<int64_t> value = TimestampMs(text);
  if (!value) return false;
  *ms = *value;
  return true;
}

int Report(const bootpack::ParsedArgs& args) {
  FunnelFilter filter;
  if (args.options.count("--watermark")) filter.watermark = args.Option("--watermark");
  if (args.options.count("--since") && !ParseSince(args.Option("--since"), &filter.since_ms)) {
    return Usage("--since takes \"YYYY-MM-DD[ hh:mm[:ss]]\"");
  }
  std::unique_ptr<Store> store = Open(args);
  if (!store) return 1;
  std::string error;
  std::optional<FunnelReport> report = BuildFunnelReport(*store, filter, &error);
  if (!report) {
    std::fprintf(stderr, "kestrel-collector: %s\n", error.c_str());
    return 1;
  }
  const std::string text = args.Has("--json") ? ReportAsJson(*report) : ReportAsText(*report);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> rest(argv + 1, argv + argc);
  if (rest.empty()) return Usage("a command is needed: serve or report");
  const std::string command = rest.front();
  rest.erase(rest.begin());
  if (command == "-h" || command == "--help") return Usage("");
  if (command == "serve") {
    bootpack::ParsedArgs args = bootpack::ParseArgs(rest, {"--listen", "--db", "--threads"}, {});
    if (args.help) return Usage("");
    if (!args.error.empty() || !args.positional.empty()) {
      return Usage(args.error.empty() ? "unexpected " + args.positional[0] : args.error);
    }
    return Serve(args);
  }
  if (command == "report") {
    bootpack::ParsedArgs args =
        bootpack::ParseArgs(rest, {"--db", "--watermark", "--since"}, {"--json"});
    if (args.help) return Usage("");
    if (!args.error.empty() || !args.positional.empty()) {
      return Usage(args.error.empty() ? "unexpected " + args.positional[0] : args.error);
    }
    return Report(args);
  }
  return Usage("no such command: " + command);
}
