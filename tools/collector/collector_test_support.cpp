#include "tools/collector/collector_test_support.h"

#include <arpa/inet.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diagnostics/event_catalog.h"
#include "diagnostics/request_encoding.h"

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

std::unique_ptr<PostgresServer> PostgresServer::Start(std::string* why_not) {
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
  // No fsync and no TCP: the test needs a real server, not a durable one.
  if (!Run(server->as_user_ + kPostgresBin + "/initdb -D " + dir + "/data -A trust -U postgres" +
           " --no-sync -E UTF8 >" + dir + "/initdb.log 2>&1")) {
    *why_not = "initdb failed (see " + dir + "/initdb.log)";
    return nullptr;
  }
  if (!Run(server->as_user_ + kPostgresBin + "/pg_ctl -D " + dir + "/data -l " + dir +
           "/server.log -w -t 30 -o \"-k " + dir +
           " -c listen_addresses='' -c fsync=off\" start >/dev/null 2>&1")) {
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

PostgresServer::~PostgresServer() {
  if (!url_.empty()) {
    Run(as_user_ + kPostgresBin + "/pg_ctl -D " + folder_ + "/data -m immediate -w stop" +
        " >/dev/null 2>&1");
  }
  if (!folder_.empty()) Run("rm -rf " + folder_);
}

RawClient::RawClient(int port) : port_(port) {}

RawClient::~RawClient() {
  if (socket_ >= 0) close(socket_);
}

int RawClient::Send(const std::string& request_line, std::string* body) {
  if (socket_ < 0) {
    socket_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(socket_);
      socket_ = -1;
      return 0;
    }
  }
  const std::string request = request_line + "\r\nHost: 127.0.0.1\r\n\r\n";
  if (send(socket_, request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size())) {
    return 0;
  }
  // One answer: the head, then Content-Length bytes.
  size_t head_end;
  while ((head_end = pending_.find("\r\n\r\n")) == std::string::npos) {
    char chunk[8192];
    const ssize_t n = recv(socket_, chunk, sizeof chunk, 0);
    if (n <= 0) return 0;
    pending_.append(chunk, static_cast<size_t>(n));
  }
  const std::string head = pending_.substr(0, head_end);
  size_t length = 0;
  const size_t field = head.find("Content-Length: ");
  if (field != std::string::npos) length = std::strtoul(head.c_str() + field + 16, nullptr, 10);
  while (pending_.size() < head_end + 4 + length) {
    char chunk[8192];
    const ssize_t n = recv(socket_, chunk, sizeof chunk, 0);
    if (n <= 0) return 0;
    pending_.append(chunk, static_cast<size_t>(n));
  }
  if (body) *body = pending_.substr(head_end + 4, length);
  pending_.erase(0, head_end + 4 + length);
  const int status = std::atoi(head.c_str() + 9);
  // The server ends a connection after its last keep-alive answer.
  if (head.find("Connection: close") != std::string::npos) {
    close(socket_);
    socket_ = -1;
  }
  return status;
}

std::string ReportLine(const std::string& token, int event_id, const std::string& timestamp,
                       bool raw, const std::string& before_id) {
  const std::string object = "?TOKEN='" + token + "'," + before_id + "EVENTID='" +
                             std::to_string(event_id) + "',DESC='" +
                             EventCatalog::Describe(event_id) + "',TIMESTAMP='" + timestamp + "'";
  return "GET /" + (raw ? object : EncodeRequestTarget(object)) + " HTTP/1.1";
}

}  // namespace collector_test
