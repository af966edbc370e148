// Measures what posting an event costs the thread that posts it, and how fast
// the sender thread writes the records, against a locked queue push and a
// plain write-and-flush loop of the same records measured in the same run.
// Prints figures only; docs/performance.md says what they should be.
//   logger_bench [--events N] [--threads N]
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_figure.h"
#include "diagnostics/event_catalog.h"
#include "diagnostics/event_logger.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The p-th fraction of the sorted values.
double Percentile(std::vector<double>& values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(p * (values.size() - 1))];
}

struct PostFigures {
  double seconds = 0;            // until every thread has posted
  std::vector<double> costs_ns;  // each post, every thread
};

// `post` runs `events` times spread over `threads`, each call timed.
template <typename Post>
PostFigures TimePosts(int threads, int events, Post post) {
  PostFigures figures;
  std::vector<std::vector<double>> costs(threads);
  std::vector<std::thread> posters;
  const Clock::time_point start = Clock::now();
  for (int t = 0; t < threads; ++t) {
    posters.emplace_back([&, t] {
      costs[t].reserve(events / threads);
      for (int i = 0; i < events / threads; ++i) {
        const Clock::time_point before = Clock::now();
        post();
        costs[t].push_back(std::chrono::duration<double, std::nano>(Clock::now() - before).count());
      }
    });
  }
  for (std::thread& poster : posters) poster.join();
  figures.seconds = SecondsSince(start);
  for (const std::vector<double>& own : costs) {
    figures.costs_ns.insert(figures.costs_ns.end(), own.begin(), own.end());
  }
  return figures;
}

void PrintPosts(const char* what, PostFigures& figures, int events) {
  std::printf("  %-34s %10.0f posts/s   p50 %7.0f ns   p99 %7.0f ns\n", what,
              events / figures.seconds, Percentile(figures.costs_ns, 0.50),
              Percentile(figures.costs_ns, 0.99));
}

}  // namespace

int main(int argc, char** argv) {
  int events = 1000000;
  int threads = 4;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--events") == 0) events = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--threads") == 0) threads = std::max(1, std::atoi(argv[i + 1]));
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kestrel-logger-bench.XXXXXX";
  if (!mkdtemp(&pattern[0])) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string folder = pattern;
  std::printf("logger_bench: %d events from %d threads, work folder %s\n", events, threads,
              folder.c_str());

  // Ours: Post builds the record (timestamp, text) and queues it.
  diagnostics::EventLoggerOptions options;
  options.idle_wait_ms = 100;
  diagnostics::EventLogger logger(folder, options);
  logger.SetLogServer("");
  PostFigures ours = TimePosts(threads, events, [&logger] { logger.Post(diagnostics::kLaunched); });
  const Clock::time_point finishing = Clock::now();
  logger.Finish();
  const double written = ours.seconds + SecondsSince(finishing);

  // Peer: the same record pushed onto a deque under a mutex, nothing built.
  const std::string record =
      diagnostics::BuildEventRecord(diagnostics::kLaunched, platform::SystemRegistry());
  std::mutex lock;
  std::deque<std::string> queue;
  PostFigures peer = TimePosts(threads, events, [&] {
    std::lock_guard<std::mutex> guard(lock);
    queue.push_back(record);
  });

  // Peer: one thread writing and flushing each record, as the sender does.
  const std::string plain_path = platform::JoinPath(folder, "plain.txt");
  double plain = 0;
  if (std::FILE* file = std::fopen(plain_path.c_str(), "w")) {
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < events; ++i) {
      std::fputs(record.c_str(), file);
      std::fputc('\n', file);
      std::fflush(file);
    }
    plain = SecondsSince(start);
    std::fclose(file);
  }

  std::printf("posting (the poster's cost):\n");
  PrintPosts("PostEvent", ours, events);
  PrintPosts("peer: locked deque push", peer, events);
  std::printf("  ratio p50 %.2f\n",
              Percentile(ours.costs_ns, 0.5) / Percentile(peer.costs_ns, 0.5));
  std::printf("writing (posted to all in the file):\n");
  std::printf("  %-34s %10.0f records/s\n", "logger, start to Finish", events / written);
  std::printf("  %-34s %10.0f records/s\n", "peer: fputs + fflush loop", events / plain);
  std::printf("  ratio %.2f\n", (events / written) / (events / plain));

  char text[3][48];
  std::snprintf(text[0], sizeof text[0], "p50 %.0f ns, p99 %.0f ns", Percentile(ours.costs_ns, 0.5),
                Percentile(ours.costs_ns, 0.99));
  std::snprintf(text[1], sizeof text[1], "p50 %.0f ns, p99 %.0f ns", Percentile(peer.costs_ns, 0.5),
                Percentile(peer.costs_ns, 0.99));
  PrintFigure("Host: PostEvent's cost to its poster, " + std::to_string(threads) + " threads",
              text[0], "locked deque push", text[1],
              Percentile(ours.costs_ns, 0.5) / Percentile(peer.costs_ns, 0.5), "-", "-");
  std::snprintf(text[0], sizeof text[0], "%.0f records/s", events / written);
  std::snprintf(text[1], sizeof text[1], "%.0f records/s", events / plain);
  PrintFigure("Host: records posted to all in the log file", text[0], "fputs + fflush loop",
              text[1], (events / written) / (events / plain), "-", "-");

  platform::RemoveFile(logger.log_path());
  platform::RemoveFile(plain_path);
  platform::RemoveFolder(folder);
  return 0;
}
