// kestrel-collector against what anyone on the internet may send it, run as
// a process of its own on loopback: the answer time of a real report while
// 500 idle connections are open, and while 128 connections send their heads a
// byte every 2 s; the report page's time and the server's memory over
// 100,000 junk rows (FillWithJunk); what 42 MB of header lines cost it, and
// what it answers to an 8 KB Range header. Any build of the program can be measured (an older one
// serves its pages on the report port), so that builds compare.
//   collector_hostile_bench [--collector PATH] [--junk N]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "tests/collector/test_support.h"
#include "tools/collector/store.h"

namespace {

using Clock = std::chrono::steady_clock;
using collector_test::CollectorProcess;
using collector_test::RawClient;
constexpr char kTime[] = "2026-12-07 22:56:28.094";
constexpr int kGiveUpMs = 30000;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Figure(const std::string& what, const std::string& ours, const char* goal, bool met) {
  std::printf("FIGURE|%s|%s|-|-|-|%s|%s\n", what.c_str(), ours.c_str(), goal,
              met ? "met" : "MISSED");
}

std::unique_ptr<CollectorProcess> Serve(const std::string& program, bool admin,
                                        const std::string& db) {
  std::vector<std::string> options = {"--listen", "127.0.0.1:0", "--db", db};
  if (admin) options.insert(options.end(), {"--admin-listen", "127.0.0.1:0"});
  return CollectorProcess::Start(program, options, admin);
}

// Real reports one after another, each on a connection of its own from an
// address the load does not use: the slowest answer in ms, or -1 when one
// went unanswered for kGiveUpMs.
double SlowestOfFive(int port, int* answered) {
  double slowest = 0;
  *answered = 0;
  for (int i = 0; i < 5; ++i) {
    RawClient real(port, "127.0.0.2");
    const Clock::time_point start = Clock::now();
    const std::string line = collector_test::ReportLine("real-" + std::to_string(i), 3000, kTime) +
                             "\r\nHost: x\r\n\r\n";
    if (!real.SendBytes(line) || real.ReadAnswer(kGiveUpMs) != 200) return -1;
    slowest = std::max(slowest, MsSince(start));
    ++*answered;
  }
  return slowest;
}

void Report(const char* what, double slowest, int answered) {
  char text[96];
  if (slowest < 0) {
    std::snprintf(text, sizeof text, "%d of 5 answered, then none within %d s", answered,
                  kGiveUpMs / 1000);
  } else {
    std::snprintf(text, sizeof text, "slowest of 5: %.1f ms", slowest);
  }
  std::printf("%s: %s\n", what, text);
  Figure(std::string("Host: collector, a real report under ") + what, text, "< 1 s",
         slowest >= 0 && slowest < 1000);
}

void IdleLoad(const std::string& program, bool admin) {
  collector_test::TempFolder folder;
  std::unique_ptr<CollectorProcess> collector = Serve(program, admin, folder.path() + "/r.db");
  if (!collector) return;
  auto idle = collector_test::OpenConnections(collector->port(), 20, 500, 20);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  int answered = 0;
  const double slowest = SlowestOfFive(collector->port(), &answered);
  Report("500 idle connections", slowest, answered);
}

void TrickleLoad(const std::string& program, bool admin) {
  collector_test::TempFolder folder;
  std::unique_ptr<CollectorProcess> collector = Serve(program, admin, folder.path() + "/r.db");
  if (!collector) return;
  auto slow = collector_test::OpenConnections(collector->port(), 21, 128, 16);
  std::atomic<bool> stop{false};
  std::thread trickle([&slow, &stop] {
    for (int round = 0; !stop; ++round) {
      for (auto& c : slow) c->SendBytes(round == 0 ? "GET /?TOKEN='slow" : "a");
      for (int i = 0; i < 20 && !stop; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  std::this_thread::sleep_for(std::chrono::seconds(3));
  int answered = 0;
  const double slowest = SlowestOfFive(collector->port(), &answered);
  stop = true;
  trickle.join();
  Report("128 heads trickling a byte every 2 s", slowest, answered);
}

// One connection sends 42 MB of short header lines, as long as the server
// takes them; then the server's peak memory.
void HeadFlood(const std::string& program, bool admin) {
  collector_test::TempFolder folder;
  std::unique_ptr<CollectorProcess> collector = Serve(program, admin, folder.path() + "/r.db");
  if (!collector) return;
  const long before_kib = collector->MemoryKiB("VmRSS");
  RawClient flood(collector->port(), "127.0.0.3");
  std::string lines = "GET /?TOKEN='flood' HTTP/1.1\r\n";
  while (lines.size() < (1 << 20)) lines += "X: y\r\n";
  size_t sent = 0;
  while (sent < (42u << 20) && flood.SendBytes(lines)) sent += lines.size();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  char text[128];
  std::snprintf(text, sizeof text, "%zu MiB taken; memory %ld MiB before, %ld MiB at the peak",
                sent >> 20, before_kib / 1024, collector->MemoryKiB("VmHWM") / 1024);
  std::printf("42 MB of header lines: %s\n", text);
  Figure("Host: collector, 42 MB of header lines on one connection", text, "bounded",
         collector->MemoryKiB("VmHWM") < 4 * before_kib);
}

// The report page of a few runs, asked for with an 8 KB Range header.
void Ranges(const std::string& program, bool admin) {
  collector_test::TempFolder folder;
  const std::string db = folder.path() + "/r.db";
  {
    std::string error;
    std::unique_ptr<collector::Store> store = collector::OpenStore(db, &error);
    if (!store || !store->Append(collector_test::RecordedRoads(), &error)) return;
  }
  std::unique_ptr<CollectorProcess> collector = Serve(program, admin, db);
  if (!collector) return;
  RawClient page(admin ? collector->admin_port() : collector->port());
  std::string whole, ranged, range = "Range: bytes=0-";
  while (range.size() < 8000) range += ",0-";
  page.Send("GET /report HTTP/1.1", &whole);
  page.SendBytes("GET /report HTTP/1.1\r\n" + range + "\r\n\r\n");
  const int status = page.ReadAnswer(kGiveUpMs, &ranged);
  char text[128];
  std::snprintf(text, sizeof text, "a %zu-byte page answered %d with %zu bytes", whole.size(),
                status, ranged.size());
  std::printf("an 8 KB Range header: %s\n", text);
  Figure("Host: collector, an 8 KB Range header on the report page", text, "the page itself",
         ranged == whole);
}

std::string Random(std::mt19937& random, size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) text += static_cast<char>('a' + random() % 26);
  return text;
}

// Junk as anyone could send it: every row a run of its own, half of them
// builds of their own and half failures, each with 2,000 bytes of text of
// its own.
bool FillWithJunk(const std::string& db, int rows) {
  std::string error;
  std::unique_ptr<collector::Store> store = collector::OpenStore(db, &error);
  if (!store) return false;
  std::mt19937 random(7);
  std::vector<collector::ReportRecord> chunk;
  for (int i = 0; i < rows; ++i) {
    collector::ReportRecord r;
    r.token = "junk-" + std::to_string(i) + "-" + Random(random, 12);
    r.event_id = i % 2 ? diagnostics::kHttpError : diagnostics::kWatermarkReported;
    if (i % 2) {
      r.description = "HTTP ERROR: " + Random(random, 2000);
    } else {
      r.watermark = Random(random, 2000);
    }
    r.timestamp = kTime;
    r.received_ms = 1700000000000 + i;
    r.sender = "127.0.0.1";
    chunk.push_back(r);
    if (chunk.size() == 5000 || i + 1 == rows) {
      if (!store->Append(chunk, &error)) {
        std::printf("junk: %s\n", error.c_str());
        return false;
      }
      chunk.clear();
    }
  }
  return true;
}

void PageOverJunk(const std::string& program, bool admin, int rows) {
  collector_test::TempFolder folder;
  const std::string db = folder.path() + "/r.db";
  const Clock::time_point filling = Clock::now();
  if (!FillWithJunk(db, rows)) return;
  std::printf("junk: %d rows written in %.1f s\n", rows, MsSince(filling) / 1000);
  {
    // An older collector's store: the aggregates are built at the first start.
    std::string error;
    std::unique_ptr<collector::SqlSession> raw = collector::ConnectSqlite(db, &error);
    if (raw) raw->Run("DELETE FROM funnel_meta", {}, nullptr, &error);
    const Clock::time_point opening = Clock::now();
    if (collector::OpenStore(db, &error)) {
      std::printf("the first start over %d rows of an older store: %.1f s\n", rows,
                  MsSince(opening) / 1000);
    }
  }
  std::unique_ptr<CollectorProcess> collector = Serve(program, admin, db);
  if (!collector) return;
  const long before_kib = collector->MemoryKiB("VmRSS");
  RawClient page(admin ? collector->admin_port() : collector->port());
  const Clock::time_point start = Clock::now();
  std::string body;
  const int status = page.Send("GET /report HTTP/1.1", &body);
  const double ms = MsSince(start);
  char text[160];
  std::snprintf(text, sizeof text,
                "%.0f ms, %zu bytes; memory %ld MiB before, %ld MiB at the peak, %ld MiB after", ms,
                body.size(), before_kib / 1024, collector->MemoryKiB("VmHWM") / 1024,
                collector->MemoryKiB("VmRSS") / 1024);
  std::printf("the page over %d junk rows: status %d, %s\n", rows, status, text);
  Figure("Host: collector, the report page over " + std::to_string(rows) + " junk rows", text,
         "< 1 s", status == 200 && ms < 1000);
}

}  // namespace

int main(int argc, char** argv) {
  std::string program = KESTREL_COLLECTOR;
  int junk = 100000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--collector")) program = argv[i + 1];
    if (!std::strcmp(argv[i], "--junk")) junk = std::atoi(argv[i + 1]);
  }
  // An older build has no operator listener: its pages are on the report port.
  bool admin = false;
  if (std::FILE* help = popen(("'" + program + "' --help").c_str(), "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, help))
      admin = admin || std::strstr(line, "--admin-listen");
    pclose(help);
  }
  std::printf("collector: %s (%s)\n", program.c_str(),
              admin ? "an operator listener" : "an older build, pages on the report port");
  IdleLoad(program, admin);
  TrickleLoad(program, admin);
  HeadFlood(program, admin);
  Ranges(program, admin);
  PageOverJunk(program, admin, junk);
  return 0;
}
