#include "tests/collector/test_support.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diagnostics/error_texts.h"
#include "diagnostics/event_catalog.h"
#include "diagnostics/request_encoding.h"
#include "tools/collector/report_parser.h"

extern char** environ;

namespace collector_test {

namespace {

constexpr char kPostgresBin[] = "/usr/lib/postgresql/15/bin";

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

}  // namespace

TempFolder::TempFolder() {
  char pattern[] = "/tmp/kestrel-collector-XXXXXX";
  if (mkdtemp(pattern)) path_ = pattern;
}

TempFolder::~TempFolder() {
  if (!path_.empty()) Run("rm -rf " + path_);
}

std::unique_ptr<PostgresServer> PostgresServer::Start(std::string* why_not, bool durable) {
  if (access((std::string(kPostgresBin) + "/initdb").c_str(), X_OK) != 0) {
    *why_not = std::string("no PostgreSQL server programs in ") + kPostgresBin;
    return nullptr;
  }
  std::unique_ptr<PostgresServer> server(new PostgresServer());
  char pattern[] = "/tmp/kestrel-pg-XXXXXX";
  if (!mkdtemp(pattern)) {
    *why_not = "no temporary folder";
    return nullptr;
  }
  server->folder_ = pattern;
  if (geteuid() == 0) {
    if (!getpwnam("postgres")) {
      *why_not = "running as root and there is no postgres user to run the server as";
      return nullptr;
    }
    server->as_user_ = "runuser -u postgres -- ";
    Run("chown postgres " + server->folder_);
  }
  const std::string& dir = server->folder_;
  // No TCP; no fsync unless asked: a test needs a real server, not a durable one.
  if (!Run(server->as_user_ + kPostgresBin + "/initdb -D " + dir + "/data -A trust -U postgres" +
           " --no-sync -E UTF8 >" + dir + "/initdb.log 2>&1")) {
    *why_not = "initdb failed (see " + dir + "/initdb.log)";
    return nullptr;
  }
  if (!Run(server->as_user_ + kPostgresBin + "/pg_ctl -D " + dir + "/data -l " + dir +
           "/server.log -w -t 30 -o \"-k " + dir + " -c listen_addresses=''" +
           (durable ? "" : " -c fsync=off") + "\" start >/dev/null 2>&1")) {
    *why_not = "the server did not start (see " + dir + "/server.log)";
    return nullptr;
  }
  server->url_ = "postgresql:///postgres?host=" + dir + "&user=postgres";
  return server;
}

std::string PostgresServer::CreateDatabase(const std::string& name) {
  PGconn* connection = PQconnectdb(url_.c_str());
  PGresult* result = PQexec(connection, ("CREATE DATABASE " + name).c_str());
  const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
  PQclear(result);
  PQfinish(connection);
  return ok ? "postgresql:///" + name + "?host=" + folder_ + "&user=postgres" : std::string();
}

void PostgresServer::Pause(bool paused) {
  int postmaster = 0;
  if (std::FILE* file = std::fopen((folder_ + "/data/postmaster.pid").c_str(), "r")) {
    if (std::fscanf(file, "%d", &postmaster) != 1) postmaster = 0;
    std::fclose(file);
  }
  if (postmaster <= 0) return;
  std::vector<int> processes = {postmaster};
  if (DIR* proc = opendir("/proc")) {
    while (dirent* entry = readdir(proc)) {
      const int pid = std::atoi(entry->d_name);
      std::FILE* stat =
          pid > 0 ? std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r") : nullptr;
      if (!stat) continue;
      // "pid (name) state ppid ...": the name may hold blanks, not ')'.
      char line[512] = "";
      const bool read = std::fgets(line, sizeof line, stat) != nullptr;
      std::fclose(stat);
      const char* after = read ? std::strrchr(line, ')') : nullptr;
      int parent = 0;
      if (after && std::sscanf(after + 1, " %*c %d", &parent) == 1 && parent == postmaster) {
        processes.push_back(pid);
      }
    }
    closedir(proc);
  }
  for (int pid : processes) kill(pid, paused ? SIGSTOP : SIGCONT);
}

PostgresServer::~PostgresServer() {
  if (!url_.empty()) {
    Pause(false);  // a test that failed while it was paused
    Run(as_user_ + kPostgresBin + "/pg_ctl -D " + folder_ + "/data -m immediate -w stop" +
        " >/dev/null 2>&1");
  }
  if (!folder_.empty()) Run("rm -rf " + folder_);
}

RawClient::RawClient(int port, std::string from) : port_(port), from_(std::move(from)) {}

RawClient::~RawClient() {
  if (socket_ >= 0) close(socket_);
}

bool RawClient::Connect() {
  if (socket_ >= 0 && !server_ends_) return true;
  if (socket_ >= 0) close(socket_);
  server_ends_ = false;
  pending_.clear();
  socket_ = socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  if (!from_.empty()) {
    inet_pton(AF_INET, from_.c_str(), &address.sin_addr);
    if (bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(socket_);
      socket_ = -1;
      return false;
    }
  }
  address.sin_port = htons(static_cast<uint16_t>(port_));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(socket_);
    socket_ = -1;
    return false;
  }
  return true;
}

bool RawClient::SendBytes(const std::string& bytes) {
  if (!Connect()) return false;
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(socket_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool RawClient::Receive(const std::chrono::steady_clock::time_point* deadline) {
  if (socket_ < 0) return false;
  if (deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        *deadline - std::chrono::steady_clock::now());
    pollfd entry{socket_, POLLIN, 0};
    if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) != 1) return false;
  }
  char chunk[8192];
  const ssize_t n = recv(socket_, chunk, sizeof chunk, 0);
  if (n <= 0) return false;
  pending_.append(chunk, static_cast<size_t>(n));
  return true;
}

int RawClient::ReadAnswer(int timeout_ms, std::string* body, std::string* head_out) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  const auto* until = timeout_ms < 0 ? nullptr : &deadline;
  // One answer: the head, then Content-Length bytes.
  size_t head_end;
  while ((head_end = pending_.find("\r\n\r\n")) == std::string::npos) {
    if (!Receive(until)) return 0;
  }
  const std::string head = pending_.substr(0, head_end);
  size_t length = 0;
  const size_t field = head.find("Content-Length: ");
  if (field != std::string::npos) length = std::strtoul(head.c_str() + field + 16, nullptr, 10);
  while (pending_.size() < head_end + 4 + length) {
    if (!Receive(until)) return 0;
  }
  if (body) *body = pending_.substr(head_end + 4, length);
  if (head_out) *head_out = head;
  pending_.erase(0, head_end + 4 + length);
  // The server ends a connection after its last keep-alive answer: the
  // next Send opens a new one.
  if (head.find("Connection: close") != std::string::npos) server_ends_ = true;
  return std::atoi(head.c_str() + 9);
}

int RawClient::Send(const std::string& request_line, std::string* body) {
  if (!SendBytes(request_line + "\r\nHost: 127.0.0.1\r\n\r\n")) return 0;
  return ReadAnswer(-1, body);
}

bool RawClient::AwaitServerClose(int timeout_ms) {
  if (socket_ < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  bool ended = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{socket_, POLLIN, 0};
    if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) != 1) break;
    char rest[4096];
    const ssize_t n = recv(socket_, rest, sizeof rest, 0);
    if (n > 0) continue;
    ended = n == 0 || errno == ECONNRESET;  // an end, or a reset over unread bytes
    break;
  }
  close(socket_);
  socket_ = -1;
  pending_.clear();
  return ended;
}

std::vector<std::unique_ptr<RawClient>> OpenConnections(int port, int net, int count,
                                                        int per_address) {
  std::vector<std::unique_ptr<RawClient>> connections;
  for (int i = 0; i < count; ++i) {
    connections.push_back(std::make_unique<RawClient>(
        port, "127.0." + std::to_string(net) + "." + std::to_string(1 + i / per_address)));
    connections.back()->Connect();
  }
  return connections;
}

std::unique_ptr<CollectorProcess> CollectorProcess::Start(const std::string& program,
                                                          const std::vector<std::string>& options,
                                                          bool admin_line) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return nullptr;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  std::vector<std::string> args = {program, "serve"};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  std::unique_ptr<CollectorProcess> process(new CollectorProcess());
  const int rc =
      posix_spawn(&process->pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  process->output_ = out[0];
  if (rc != 0) {
    process->pid_ = -1;
    return nullptr;
  }
  // "kestrel-collector: listening on ADDR:PORT", then the operator pages' line.
  for (int* port : {&process->port_, &process->admin_port_}) {
    if (port == &process->admin_port_ && !admin_line) break;
    std::string line;
    char c;
    while (read(process->output_, &c, 1) == 1 && c != '\n') line += c;
    const size_t colon = line.rfind(':');
    *port = colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
    if (*port <= 0) return nullptr;
  }
  return process;
}

CollectorProcess::~CollectorProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  if (output_ >= 0) close(output_);
}

void CollectorProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

long CollectorProcess::MemoryKiB(const char* field) const {
  std::FILE* status = std::fopen(("/proc/" + std::to_string(pid_) + "/status").c_str(), "r");
  if (!status) return 0;
  char line[256];
  long kib = 0;
  const size_t length = std::strlen(field);
  while (std::fgets(line, sizeof line, status)) {
    if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
      kib = std::atol(line + length + 1);
    }
  }
  std::fclose(status);
  return kib;
}

namespace {

// Runs as roads of the end-to-end suite record them (tests/e2e/scenarios_roads.py),
// each report as the sender puts it on the wire.
struct Road {
  const char* token;
  const char* watermark;
  std::vector<int> events;
  int launch_after_s;  // when 7003 comes, seconds after 3000
};

const std::vector<Road>& Roads() {
  static const std::vector<Road> kRoads = {
      // install-all: a fresh machine, everything downloaded (the .NET file
      // resumed once) and installed.
      {"run-install-all",
       "wm-A",
       {3000, 3010, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 5000, 5021, 5004, 5006, 5010,
        5012, 5014, 9003, 4062, 6001, 6003, 6004, 6006, 6007, 6009, 7001, 7003, 3115, 3111},
       40},
      // dotnet-secondary: the primary answers 404 (9058 is sent twice: a
      // pass whose send failed after the server had it; stored once).
      {"run-dotnet-secondary",
       "wm-A",
       {3000, 3010, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 5000, 9058,
        9058, 5002, 5001, 5005, 5006, 5010, 5012, 5014, 9003, 4062, 6001,
        6003, 6004, 6006, 6007, 6009, 7001, 7003, 3115, 3111},
       60},
      // signature-refused: the .NET primary's file fails its SHA-256, the secondary's signature.
      {"run-signature-refused",
       "wm-A",
       {3000, 3010, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 5000, 9067, 5002, 5001, 9069, 5003,
        9003, 4062, 3115, 3111},
       0},
      // dotnet-installer-1603
      {"run-installer-1603",
       "wm-A",
       {3000, 3010, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 5000, 5004,
        5006, 5010, 5012, 5014, 9003, 4062, 6001, 9060, 6002, 3115, 3111},
       0},
      // all installed: no licence, straight to the launcher.
      {"run-installed",
       "wm-B",
       {3000, 3010, 3021, 3019, 4060, 4001, 4003, 4005, 4062, 7001, 7003, 3115, 3111},
       10},
      // cancel during the .NET download.
      {"run-cancelled",
       "wm-B",
       {3000, 3010, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 5000, 9003, 4062, 9005, 9065, 5100,
        3115, 3115, 3111},
       0},
      // stopped reporting mid-install (the machine went off).
      {"run-gone",
       "wm-B",
       {3000, 3010, 3021, 3019, 4060, 4061, 4002, 4004, 4006, 9003, 4062, 6001},
       0},
  };
  return kRoads;
}

std::string At(int seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "2026-12-07 10:%02d:%02d.%03d", seconds / 60, seconds % 60, 0);
  return text;
}

}  // namespace

std::vector<collector::ReportRecord> RecordedRoads() {
  std::vector<collector::ReportRecord> records;
  int64_t received = 0;
  for (const Road& road : Roads()) {
    int second = 0;
    for (int id : road.events) {
      if (id == 7003) second = road.launch_after_s;
      diagnostics::EventRecord sent{road.token, {}, {}, id, diagnostics::EventCatalog::Describe(id),
                                    At(second)};
      if (id == 3021) sent.watermark = road.watermark;
      if (id == 7003) sent.agent = "0f8fad5b-d9cb-469f-a165-70867728950e";
      if (id == 9058) sent.description = "HTTP ERROR: Not Found.";
      if (id == 9060)
        sent.description = "INSTALLATION ERROR: " + diagnostics::DescribeInstallerExitCode(1603);
      if (id == 9058 || id == 9060) sent.timestamp = At(id == 9058 ? 1 : 2);
      // The installer's failure as an older executable sent it, raw.
      std::optional<diagnostics::EventRecord> read =
          ReceivedReport(ReportLine(sent.token, FormatEventRecord(sent), id == 9060));
      if (!read) std::abort();  // the lines above are all reports
      records.push_back({std::move(*read), ++received, ""});
      ++second;
    }
  }
  return records;
}

std::vector<collector::ReportRecord> ComparedBuilds() {
  const std::vector<int> kFresh = {3000, 3021, 3019, 4002, 4004, 4006, 4061, 9003, 4062,
                                   5004, 5010, 5014, 6003, 6006, 6009, 7003, 3111};
  std::vector<collector::ReportRecord> records;
  auto cohort = [&](const char* build, int64_t day_ms, int agent_lost, int dotnet_failed) {
    for (int run = 0; run < 200; ++run) {
      for (int id : kFresh) {
        const bool lost = run < agent_lost;
        const bool failed = !lost && run < agent_lost + dotnet_failed;
        if (lost && (id == 5014 || id == 6009 || id == 7003)) continue;
        if (failed && (id == 6006 || id == 6009 || id == 7003)) continue;
        if (failed && id == 6003) id = 6002;
        collector::ReportRecord r;
        r.token = std::string(build) + "-run-" + std::to_string(run);
        r.event_id = id;
        r.description = diagnostics::EventCatalog::Describe(id);
        r.timestamp = "2026-12-07 10:00:00.000";
        if (id == 3021) r.watermark = build;
        r.received_ms = day_ms + static_cast<int64_t>(records.size());
        records.push_back(std::move(r));
      }
    }
  };
  cohort("build-1", 1796083200000, 10, 0);  // 2026-12-01 00:00 UTC
  cohort("build-2", 1796169600000, 12, 60);
  return records;
}

std::string ReportLine(const std::string& token, const std::string& record_line, bool raw) {
  const std::string target = diagnostics::FormatReportTarget(token, record_line);
  return "GET /" + (raw ? diagnostics::DecodeRequestTarget(target) : target) + " HTTP/1.1";
}

std::string ReportLine(const std::string& token, int event_id, const std::string& timestamp,
                       bool raw) {
  const diagnostics::EventRecord report{
      token, {}, {}, event_id, diagnostics::EventCatalog::Describe(event_id), timestamp};
  return ReportLine(token, FormatEventRecord(report), raw);
}

std::optional<diagnostics::EventRecord> ReceivedReport(const std::string& line) {
  const std::string normal = collector::NormalizeRequestLine(line);
  const size_t first = normal.find(' ');
  const size_t last = normal.rfind(' ');
  if (first == last) return std::nullopt;
  return diagnostics::ParseReportTarget(normal.substr(first + 1, last - first - 1));
}

}  // namespace collector_test
