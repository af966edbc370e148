// kestrel-collector's report page over stores of 1 and 10 million records
// shaped like real runs, served by the real program over HTTP on its
// operator listener: the page, two builds compared, one day's page and
// `report --json`, each timed over several repetitions, with the server's
// peak memory growth (report: the command's own peak). The store is filled
// through its own commit path in large transactions, so that its aggregates
// are kept as a serving collector keeps them. The peer is the same over a
// store of 10,000 records: the ratio says whether a page costs what it shows
// or what the store holds. SQLite, and PostgreSQL when one can be started.
//   collector_page_bench [--records N] [--reps N] [--keep DIR] [--sqlite-only]
// --records measures one size (default 1,000,000, then 10,000,000); --keep
// fills the SQLite stores in DIR and finds them there in later runs.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <random>

#include "bench/bench_figure.h"
#include "diagnostics/error_texts.h"
#include "diagnostics/event_catalog.h"
#include "diagnostics/event_record.h"
#include "tests/collector/test_support.h"
#include "tools/collector/funnel_tally.h"
#include "tools/collector/store.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using collector::ReportRecord;
using collector_test::CollectorProcess;

constexpr uint64_t kPeerRecords = 10000;
constexpr size_t kRecordsPerCommit = 50000;
constexpr size_t kLiveRuns = 400;               // runs under way at once, their records interleaved
constexpr int64_t kFirstDayMs = 1794787200000;  // 2026-11-16 00:00 UTC
constexpr int64_t kDays = 21;
using collector::kDayMs;
// One day of the range, 2026-12-03 (day 17: the newest build's weeks).
constexpr char kDayPage[] = "/report?since=2026-12-03&until=2026-12-04";
constexpr int64_t kPageDayMs = kFirstDayMs + 17 * kDayMs;
// The build before and the newest, whose .NET installer fails more often.
constexpr const char* kBuilds[] = {"2026.10.4", "2026.11.1", "2026.11.2", "2026.12.1"};
constexpr char kComparePage[] = "/report?compare=2026.11.2&with=2026.12.1";
constexpr int kInstallerFailedRoad = 5;
constexpr char kGnuTime[] = "/usr/bin/time";
// What a page may add to the server whatever the store holds: a few
// connections' page caches (SQLite's default is 2 MiB) and the page itself.
constexpr long kPageMemoryBoundKib = 8 * 1024;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A run's reports in the order sent, as the end-to-end roads record them.
struct Road {
  std::vector<int> events;
  int weight;  // runs of 100
};

const std::vector<Road>& Roads() {
  static const std::vector<Road> kRoads = {
      // A fresh machine: everything downloaded and installed.
      {{3000, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 5004, 5010, 5014, 9003, 4062, 6003, 6006,
        6009, 7001, 7003, 3111},
       40},
      // .NET and its Service Pack there, the agent not.
      {{3000, 3021, 3019, 4060, 4061, 4001, 4003, 4006, 5014, 9003, 4062, 6009, 7001, 7003, 3111},
       25},
      // Everything there: no licence, straight to the launcher.
      {{3000, 3021, 3019, 4060, 4001, 4003, 4005, 4062, 7001, 7003, 3115, 3111}, 10},
      // The .NET primary address answers 404; the secondary serves it.
      {{3000, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 9058, 5002,
        5005, 5010, 5014, 9003, 4062, 6003, 6006, 6009, 7003, 3111},
       5},
      // The agent's download fails.
      {{3000, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 5004, 5010, 9058, 5013, 9003, 4062, 6003,
        6006, 3111},
       4},
      // The .NET installer exits with 1603 (kInstallerFailedRoad).
      {{3000, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 5004, 5010, 5014, 9003, 4062, 6001, 9060,
        6002, 3115, 3111},
       3},
      // The licence declined.
      {{3000, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 9001, 3111}, 5},
      // Cancelled during the .NET download.
      {{3000, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 9003, 4062, 9005, 9065, 5100, 3115, 3111},
       3},
      // Stopped reporting mid-install (the machine went off).
      {{3000, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 5004, 5010, 5014, 9003, 4062, 6001}, 5},
  };
  return kRoads;
}

std::string Timestamp(int64_t ms) {
  const time_t seconds = static_cast<time_t>(ms / 1000);
  tm utc{};
  gmtime_r(&seconds, &utc);
  return diagnostics::FormatTimestamp({utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                                       utc.tm_min, utc.tm_sec, static_cast<int>(ms % 1000)});
}

// The records of many runs over three weeks, in the order a collector
// receives them: kLiveRuns runs at a time, their reports interleaved, the
// builds following one another as releases do.
class RunMaker {
 public:
  explicit RunMaker(uint64_t records) : records_(records) {}

  ReportRecord Next() {
    const int64_t received =
        kFirstDayMs +
        static_cast<int64_t>(made_ * static_cast<uint64_t>(kDays * kDayMs) / records_);
    ++made_;
    while (live_.size() < kLiveRuns) live_.push_back(NewRun(received));
    Run& run = live_[random_() % live_.size()];
    const int id = run.road->events[run.next++];
    if (id == diagnostics::kAgentLaunched) run.clock_ms += 20000 + random_() % 180000;
    ReportRecord r;
    r.token = run.token;
    r.event_id = id;
    r.description = diagnostics::EventCatalog::Describe(id);
    if (id == diagnostics::kHttpError) r.description = "HTTP ERROR: Not Found.";
    if (id == diagnostics::kInstallationError)
      r.description = "INSTALLATION ERROR: " + diagnostics::DescribeInstallerExitCode(1603);
    if (id == diagnostics::kWatermarkReported) r.watermark = run.build;
    if (id == diagnostics::kAgentLaunched) r.agent = "0f8fad5b-d9cb-469f-a165-70867728950e";
    r.timestamp = Timestamp(run.clock_ms);
    r.received_ms = received;
    r.sender = run.sender;
    run.clock_ms += 1000 + random_() % 3000;
    if (run.next == run.road->events.size()) run = NewRun(received);
    return r;
  }

 private:
  struct Run {
    std::string token;
    std::string build;
    std::string sender;
    const Road* road = nullptr;
    size_t next = 0;
    int64_t clock_ms = 0;  // the sender's clock at its next report
  };

  Run NewRun(int64_t received_ms) {
    Run run;
    char token[40];
    const uint64_t a = random_(), b = random_();
    std::snprintf(token, sizeof token, "%08x-%04x-%04x-%04x-%012llx",
                  static_cast<unsigned>(a >> 32), static_cast<unsigned>(a >> 16) & 0xffff,
                  static_cast<unsigned>(a) & 0xffff, static_cast<unsigned>(b >> 48),
                  static_cast<unsigned long long>(b & 0xffffffffffffULL));
    run.token = token;
    // A third of the weeks each for the three latest builds, the one before
    // still out there; a few runs of an old one.
    const size_t stage = 1 + std::min<size_t>(2, 3 * made_ / records_);
    const uint64_t pick = random_() % 100;
    run.build = kBuilds[pick < 3 ? 0 : (pick < 20 && stage > 1) ? stage - 1 : stage];
    int total = 0;
    std::vector<int> weights;
    for (size_t i = 0; i < Roads().size(); ++i) {
      const bool worse = run.build == kBuilds[3] && i == kInstallerFailedRoad;
      weights.push_back(Roads()[i].weight * (worse ? 3 : 1));
      total += weights.back();
    }
    int left = static_cast<int>(random_() % static_cast<uint64_t>(total));
    size_t road = 0;
    while (left >= weights[road]) left -= weights[road++];
    run.road = &Roads()[road];
    run.sender = "198.51." + std::to_string(random_() % 256) + ".0";
    // The sender's clock, a little off the server's.
    run.clock_ms = received_ms + static_cast<int64_t>(random_() % 240000) - 120000;
    return run;
  }

  const uint64_t records_;
  uint64_t made_ = 0;
  std::mt19937_64 random_{26};
  std::vector<Run> live_;
};

// Seconds to store `records` new records, or nothing when a commit failed.
std::optional<double> Fill(collector::Store& store, uint64_t records) {
  RunMaker maker(records);
  std::vector<ReportRecord> batch;
  const Clock::time_point start = Clock::now();
  std::string error;
  for (uint64_t i = 1; i <= records; ++i) {
    batch.push_back(maker.Next());
    if (batch.size() < kRecordsPerCommit && i < records) continue;
    if (!store.Append(batch, &error)) {
      std::printf("  the fill failed after %llu records: %s\n",
                  static_cast<unsigned long long>(i - batch.size()), error.c_str());
      return std::nullopt;
    }
    batch.clear();
    if (i % 1000000 == 0) {
      std::printf("  %llu records stored (%.0f s)\n", static_cast<unsigned long long>(i),
                  MsSince(start) / 1000);
      std::fflush(stdout);
    }
  }
  return MsSince(start) / 1000;
}

// The times of one request (or command) repeated, and the memory it took.
struct Served {
  std::vector<double> ms;
  long grown_kib = 0;  // the server's peak over its resident memory before the first
  long peak_kib = 0;   // the server's (the command's) peak resident memory
  size_t bytes = 0;
  bool ok = true;

  double Median() const {
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    return sorted.empty() ? 0 : sorted[sorted.size() / 2];
  }
  double Slowest() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

// `target` asked `reps` times of a server started for it alone on the store,
// so that its peak memory is this page's.
Served ServePage(const std::string& program, const std::string& location, const std::string& target,
                 int reps) {
  Served served;
  std::unique_ptr<CollectorProcess> server = CollectorProcess::Start(
      program, {"--listen", "127.0.0.1:0", "--admin-listen", "127.0.0.1:0", "--db", location});
  if (!server) {
    served.ok = false;
    return served;
  }
  const long before_kib = server->MemoryKiB("VmRSS");
  collector_test::RawClient client(server->admin_port());
  for (int i = 0; i < reps; ++i) {
    std::string body;
    const Clock::time_point start = Clock::now();
    served.ok = client.Send("GET " + target + " HTTP/1.1", &body) == 200 && served.ok;
    served.ms.push_back(MsSince(start));
    served.bytes = body.size();
  }
  served.peak_kib = server->MemoryKiB("VmHWM");
  served.grown_kib = served.peak_kib - before_kib;
  return served;
}

// `kestrel-collector report --json` run `reps` times, each a process of its
// own. Its peak memory is GNU time's (%M) when there is one: the kernel's
// count for a child spawned from here would fold in this process's own.
Served RunReport(const std::string& program, const std::string& location, int reps,
                 const std::string& scratch) {
  Served served;
  const std::string peak_file = scratch + "/report-peak.txt";
  const bool timed = access(kGnuTime, X_OK) == 0;
  for (int i = 0; i < reps; ++i) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return {{}, 0, 0, 0, false};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<std::string> args = {program, "report", "--db", location, "--json"};
    if (timed) args.insert(args.begin(), {kGnuTime, "-f", "%M", "-o", peak_file});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const Clock::time_point start = Clock::now();
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    size_t bytes = 0;
    char chunk[65536];
    for (ssize_t n; rc == 0 && (n = read(out[0], chunk, sizeof chunk)) > 0;) bytes += n;
    close(out[0]);
    int status = 1;
    if (rc != 0 || waitpid(pid, &status, 0) != pid) status = 1;
    served.ms.push_back(MsSince(start));
    served.ok = served.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    served.bytes = bytes;
    long kib = 0;
    if (std::FILE* peak = timed ? std::fopen(peak_file.c_str(), "r") : nullptr) {
      if (std::fscanf(peak, "%ld", &kib) != 1) kib = 0;
      std::fclose(peak);
    }
    served.peak_kib = std::max(served.peak_kib, kib);
  }
  return served;
}

struct Measured {
  uint64_t records = 0;
  Served page, compare, day, report;
  uint64_t day_records = 0;  // the records the day's page reads
  // PostgreSQL: the page and the comparison again after VACUUM, as
  // autovacuum leaves the tables once a load has settled (an index-only scan
  // then skips the rows' visibility checks).
  std::optional<Served> settled_page, settled_compare;
};

bool Vacuum(const std::string& location) {
  std::string error;
  collector::StoreDeadlines patient;
  patient.statement_ms = 3600000;
  std::unique_ptr<collector::SqlSession> session =
      collector::ConnectPostgres(location, patient, &error);
  if (!session || !session->Run("VACUUM (ANALYZE)", {}, nullptr, &error)) {
    std::printf("  VACUUM failed: %s\n", error.c_str());
    return false;
  }
  return true;
}

std::optional<Measured> Measure(const std::string& program, const std::string& store_name,
                                const std::string& location, uint64_t records, int reps,
                                const std::string& scratch) {
  Measured m;
  m.records = records;
  {
    std::string error;
    std::unique_ptr<collector::Store> store = collector::OpenStore(location, &error);
    std::optional<collector::FunnelReport> held;
    if (!store || !(held = store->Funnel(std::nullopt, &error))) {
      std::printf("%s: cannot open %s: %s\n", store_name.c_str(), location.c_str(), error.c_str());
      return std::nullopt;
    }
    if (held->records == records) {
      std::printf("%s, %llu records: the store kept from an earlier run\n", store_name.c_str(),
                  static_cast<unsigned long long>(records));
    } else if (held->records != 0) {
      std::printf("%s: %s holds %llu records, not %llu\n", store_name.c_str(), location.c_str(),
                  static_cast<unsigned long long>(held->records),
                  static_cast<unsigned long long>(records));
      return std::nullopt;
    } else {
      std::printf("%s, %llu records: filling, %zu a commit\n", store_name.c_str(),
                  static_cast<unsigned long long>(records), kRecordsPerCommit);
      std::fflush(stdout);
      const std::optional<double> seconds = Fill(*store, records);
      if (!seconds) return std::nullopt;
      const std::optional<uint64_t> bytes = store->UsedBytes(&error);
      std::printf("  filled in %.1f s (%.0f records/s), the database %.0f MiB\n", *seconds,
                  records / *seconds, bytes ? *bytes / 1048576.0 : 0.0);
    }
    // The records the day's page reads, counted as it reads them.
    store->ForEach(
        kPageDayMs, [&m](const ReportRecord&) { ++m.day_records; }, &error, kPageDayMs + kDayMs);
  }
  m.page = ServePage(program, location, "/report", reps);
  m.compare = ServePage(program, location, kComparePage, reps);
  m.day = ServePage(program, location, kDayPage, std::min(reps, 3));
  m.report = RunReport(program, location, reps, scratch);
  if (location.rfind("postgresql://", 0) == 0) {
    const Clock::time_point start = Clock::now();
    if (!Vacuum(location)) return std::nullopt;
    std::printf("  VACUUM (ANALYZE) took %.1f s\n", MsSince(start) / 1000);
    m.settled_page = ServePage(program, location, "/report", reps);
    m.settled_compare = ServePage(program, location, kComparePage, reps);
  }
  auto line = [&](const char* what, const Served& s, bool server) {
    std::printf("  %-14s %s p50 %.1f ms, slowest %.1f ms (%d runs), %zu bytes; ", what,
                s.ok ? "" : "FAILED,", s.Median(), s.Slowest(), static_cast<int>(s.ms.size()),
                s.bytes);
    if (server) {
      std::printf("server memory +%.1f MiB (peak %.1f MiB)\n", s.grown_kib / 1024.0,
                  s.peak_kib / 1024.0);
    } else {
      std::printf("its peak memory %.1f MiB%s\n", s.peak_kib / 1024.0,
                  s.peak_kib ? "" : " (not measured: no GNU time)");
    }
  };
  line("page", m.page, true);
  line("compared", m.compare, true);
  line("one day", m.day, true);
  std::printf("  (the day's page reads %llu records)\n",
              static_cast<unsigned long long>(m.day_records));
  line("report --json", m.report, false);
  if (m.settled_page) {
    line("page, vacuumed", *m.settled_page, true);
    line("compared, vac.", *m.settled_compare, true);
  }
  std::fflush(stdout);
  const bool ok = m.page.ok && m.compare.ok && m.day.ok && m.report.ok &&
                  (!m.settled_page || (m.settled_page->ok && m.settled_compare->ok));
  if (!ok) return std::nullopt;
  return m;
}

std::string Count(uint64_t n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string Times(const Served& s) {
  char text[96];
  std::snprintf(text, sizeof text, "p50 %.1f ms, slowest %.1f ms, +%.1f MiB", s.Median(),
                s.Slowest(), s.grown_kib / 1024.0);
  return text;
}

void PrintFigures(const std::string& store_name, const Measured& m, const Measured& peer) {
  const std::string over = store_name + ", " + Count(m.records) + " records";
  const std::string peer_name = "the same over " + Count(peer.records) + " records";
  PrintFigure("Host: collector page (GET /report), " + over, Times(m.page), peer_name,
              Times(peer.page), m.page.Median() / peer.page.Median(), "< 1 s",
              m.page.Slowest() < 1000);
  char ours[48], theirs[48];
  std::snprintf(ours, sizeof ours, "+%.1f MiB", m.page.grown_kib / 1024.0);
  std::snprintf(theirs, sizeof theirs, "+%.1f MiB", peer.page.grown_kib / 1024.0);
  PrintFigure("Host: collector page, the server's memory growth, " + over, ours, peer_name, theirs,
              static_cast<double>(std::max(m.page.grown_kib, 1L)) /
                  static_cast<double>(std::max(peer.page.grown_kib, 1L)),
              "bounded (< 8 MiB)", m.page.grown_kib < kPageMemoryBoundKib);
  PrintFigure("Host: collector page comparing two builds, " + over, Times(m.compare), peer_name,
              Times(peer.compare), m.compare.Median() / peer.compare.Median(), "< 1 s",
              m.compare.Slowest() < 1000);
  if (m.settled_page && peer.settled_page) {
    PrintFigure("Host: collector page after VACUUM, " + over, Times(*m.settled_page),
                peer_name + ", after VACUUM", Times(*peer.settled_page),
                m.settled_page->Median() / peer.settled_page->Median(), "< 1 s",
                m.settled_page->Slowest() < 1000);
    PrintFigure("Host: collector page comparing two builds after VACUUM, " + over,
                Times(*m.settled_compare), peer_name + ", after VACUUM",
                Times(*peer.settled_compare),
                m.settled_compare->Median() / peer.settled_compare->Median(), "< 1 s",
                m.settled_compare->Slowest() < 1000);
  }
  PrintFigure("Host: collector page of one day (" + Count(m.day_records) + " records), " + over,
              Times(m.day), "the same day over " + Count(peer.records) + " records",
              Times(peer.day), m.day.Median() / peer.day.Median(), "-", "-");
  std::snprintf(ours, sizeof ours, "p50 %.1f ms, peak %.1f MiB", m.report.Median(),
                m.report.peak_kib / 1024.0);
  std::snprintf(theirs, sizeof theirs, "p50 %.1f ms, peak %.1f MiB", peer.report.Median(),
                peer.report.peak_kib / 1024.0);
  PrintFigure("Host: collector `report --json` (the whole command), " + over, ours, peer_name,
              theirs, m.report.Median() / peer.report.Median(), "-", "-");
}

// Each size over one kind of store, after the peer over the same kind.
bool Bench(const std::string& program, const std::string& store_name,
           const std::function<std::string(uint64_t)>& location, const std::vector<uint64_t>& sizes,
           int reps, const std::string& scratch) {
  const std::optional<Measured> peer =
      Measure(program, store_name, location(kPeerRecords), kPeerRecords, reps, scratch);
  if (!peer) return false;
  bool ok = true;
  for (uint64_t records : sizes) {
    const std::optional<Measured> m =
        Measure(program, store_name, location(records), records, reps, scratch);
    if (m) {
      PrintFigures(store_name, *m, *peer);
    } else {
      std::printf("FIGURE|Host: collector page, %s, %s records|failed|-|-|-|-|not measured\n",
                  store_name.c_str(), Count(records).c_str());
      ok = false;
    }
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<uint64_t> sizes = {1000000, 10000000};
  int reps = 7;
  std::string keep;
  bool postgres = true;
  for (int i = 1; i < argc; ++i) {
    const bool valued = i + 1 < argc;
    if (!std::strcmp(argv[i], "--records") && valued) {
      sizes = {std::strtoull(argv[++i], nullptr, 10)};
    } else if (!std::strcmp(argv[i], "--reps") && valued) {
      reps = std::max(1, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--keep") && valued) {
      keep = argv[++i];
    } else if (!std::strcmp(argv[i], "--sqlite-only")) {
      postgres = false;
    } else {
      std::fprintf(stderr,
                   "usage: collector_page_bench [--records N] [--reps N] [--keep DIR]"
                   " [--sqlite-only]\n");
      return 2;
    }
  }
  if (sizes.front() == 0) sizes = {kPeerRecords};
  const std::string program = KESTREL_COLLECTOR;
  collector_test::TempFolder scratch;
  const std::string folder = keep.empty() ? scratch.path() : keep;
  bool ok = Bench(
      program, "SQLite",
      [&folder](uint64_t records) {
        return folder + "/records-" + std::to_string(records) + ".db";
      },
      sizes, reps, scratch.path());
  if (!postgres) return ok ? 0 : 1;
  std::string why_not;
  std::unique_ptr<collector_test::PostgresServer> server =
      collector_test::PostgresServer::Start(&why_not, true);
  if (!server) {
    std::printf("PostgreSQL: not measured: %s\n", why_not.c_str());
    return ok ? 0 : 1;
  }
  ok = Bench(
           program, "PostgreSQL",
           [&server](uint64_t records) {
             return server->CreateDatabase("records_" + std::to_string(records));
           },
           sizes, reps, scratch.path()) &&
       ok;
  return ok ? 0 : 1;
}
