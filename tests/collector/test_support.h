// Shared by the collector's tests and benchmark: a throw-away PostgreSQL
// server, a raw HTTP client on loopback, and report request lines.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/collector/report_parser.h"

namespace collector_test {

// A fresh PostgreSQL cluster in a temporary folder, reached through a unix
// socket there, stopped and removed with the object. Run as the `postgres`
// user when the test runs as root (the server refuses root).
class PostgresServer {
 public:
  // Null, with the reason in `why_not`, when no server can be started here.
  // Tests want it fast (no fsync); a benchmark wants it as deployed.
  static std::unique_ptr<PostgresServer> Start(std::string* why_not, bool durable = false);
  ~PostgresServer();
  // A new, empty database on the server: its URL, or empty on failure.
  std::string CreateDatabase(const std::string& name);
  // Stops (SIGSTOP) or resumes the server and all its processes, as a
  // machine that hangs would: connections stay open and nothing answers.
  void Pause(bool paused);

 private:
  PostgresServer() = default;
  std::string folder_;
  std::string url_;
  std::string as_user_;  // the runuser prefix, or empty
};

// A fresh folder under /tmp, removed with everything in it. Its path is a
// plain POSIX one, for SQLite and the programs the tests start; the platform
// layer's ScratchFolder (tests/test_paths.h) gives the bootstrapper's form.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// One connection to 127.0.0.1:port, opened when first needed and again
// after the server ended it; each Send writes a request line (and a Host
// header) and reads one answer. Status 0: the connection failed.
class RawClient {
 public:
  // `from`: the local address to send from (any 127.x.y.z), so that one test
  // can be many clients.
  explicit RawClient(int port, std::string from = "");
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  int Send(const std::string& request_line, std::string* body = nullptr);
  bool Connect();
  // Writes the bytes as they are; false when not all could be written.
  bool SendBytes(const std::string& bytes);
  // One answer within `timeout_ms` (-1: no limit): its status, or 0 when
  // none came (the time passed, the connection ended or failed).
  int ReadAnswer(int timeout_ms, std::string* body = nullptr, std::string* head = nullptr);
  // Whether the server ends the connection within `timeout_ms`, whatever
  // it sends before; the connection is closed here either way. The server
  // counts an answer before sending it, so once the connection has ended its
  // counts are final.
  bool AwaitServerClose(int timeout_ms);

 private:
  // Reads what has come (waiting at most until `deadline`, if any).
  bool Receive(const std::chrono::steady_clock::time_point* deadline);

  int port_;
  std::string from_;
  int socket_ = -1;
  std::string pending_;
  bool server_ends_ = false;  // the last answer said Connection: close
};

// `count` open connections to 127.0.0.1:port from 127.0.<net>.1, .2, ...,
// `per_address` from each (a load from many machines).
std::vector<std::unique_ptr<RawClient>> OpenConnections(int port, int net, int count,
                                                        int per_address);

// `kestrel-collector serve` as a process of its own, on free loopback ports
// (older builds of it have no operator listener: `admin_line` false).
class CollectorProcess {
 public:
  // Null when it did not start; `options` follow "serve".
  static std::unique_ptr<CollectorProcess> Start(const std::string& program,
                                                 const std::vector<std::string>& options,
                                                 bool admin_line = true);
  // Ends it in order (SIGTERM) if it still runs.
  ~CollectorProcess();
  CollectorProcess(const CollectorProcess&) = delete;
  CollectorProcess& operator=(const CollectorProcess&) = delete;

  int port() const { return port_; }
  int admin_port() const { return admin_port_; }  // 0 without an operator listener
  void Kill();                                    // SIGKILL, and waits for the end
  // Its resident memory in KiB: "VmHWM" (the peak) or "VmRSS" (now).
  long MemoryKiB(const char* field) const;

 private:
  CollectorProcess() = default;
  pid_t pid_ = -1;
  int output_ = -1;  // its stdout, kept open so that its last lines find a reader
  int port_ = 0;
  int admin_port_ = 0;
};

// The request line of a report, "GET /?TOKEN='token',... HTTP/1.1", encoded
// as today's sender does, or raw as the older ones; by id, with its catalog text.
std::string ReportLine(const std::string& token, const std::string& record_line, bool raw = false);
std::string ReportLine(const std::string& token, int event_id, const std::string& timestamp,
                       bool raw = false);
// The report the server reads from a request line, of either form.
std::optional<diagnostics::EventRecord> ReceivedReport(const std::string& line);

// Seven runs as roads of the end-to-end suite record them, as stored records:
// builds wm-A (install-all, dotnet-secondary, signature-refused,
// dotnet-installer-1603) and wm-B
// (all installed, cancelled, one that stopped reporting).
std::vector<collector::ReportRecord> RecordedRoads();

// Two builds of fresh-machine runs whose answer is known: "build-1", 200 runs
// received on 2026-12-01 of which 10 lose the agent download; "build-2", 200
// runs received on 2026-12-02 of which 12 lose the agent download (noise)
// and 60 fail the .NET install (a clear drop, and every step after it).
std::vector<collector::ReportRecord> ComparedBuilds();

}  // namespace collector_test
