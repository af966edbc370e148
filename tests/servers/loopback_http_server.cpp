#include "tests/servers/loopback_http_server.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "platform/ascii.h"

namespace testing_servers {
namespace {

#ifdef _WIN32
using Socket = SOCKET;
const Socket kNoSocket = INVALID_SOCKET;
const int kSendFlags = 0;
const int kShutdownSend = SD_SEND;
int LastSocketError() { return WSAGetLastError(); }
bool WouldBlock(int error) { return error == WSAEWOULDBLOCK; }
void MakeNonBlocking(Socket socket) {
  u_long on = 1;
  ioctlsocket(socket, FIONBIO, &on);
}
bool IsPermissionDenied(int error) { return error == WSAEACCES; }
bool IsAddressInUse(int error) { return error == WSAEADDRINUSE; }
void CloseSocket(Socket socket) { closesocket(socket); }

void StartWinsockOnce() {
  static const bool kStarted = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)kStarted;
}
#else
using Socket = int;
const Socket kNoSocket = -1;
const int kSendFlags = MSG_NOSIGNAL;  // a client that went away must not kill the test run
const int kShutdownSend = SHUT_WR;
int LastSocketError() { return errno; }
bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }
void MakeNonBlocking(Socket socket) { fcntl(socket, F_SETFL, fcntl(socket, F_GETFL) | O_NONBLOCK); }
bool IsPermissionDenied(int error) { return error == EACCES; }
bool IsAddressInUse(int error) { return error == EADDRINUSE; }
void CloseSocket(Socket socket) { close(socket); }
void StartWinsockOnce() {}
#endif

constexpr uint32_t kPollMs = 50;  // how soon a blocked thread notices Stop

enum class Readiness { kReadable, kWritable };

// 1 when the socket is ready that way, 0 on timeout, -1 on error.
int WaitUntil(Readiness readiness, Socket socket, uint32_t timeout_ms) {
  fd_set ready_set;
  FD_ZERO(&ready_set);
  FD_SET(socket, &ready_set);
  fd_set* readable = readiness == Readiness::kReadable ? &ready_set : nullptr;
  fd_set* writable = readiness == Readiness::kWritable ? &ready_set : nullptr;
  timeval timeout;
  timeout.tv_sec = static_cast<long>(timeout_ms / 1000);
  timeout.tv_usec = static_cast<long>((timeout_ms % 1000) * 1000);
  int ready = select(static_cast<int>(socket + 1), readable, writable, nullptr, &timeout);
  return ready < 0 ? -1 : (ready > 0 ? 1 : 0);
}

// Connection sockets do not block, so a client that stops reading cannot
// hold Stop up: a full send buffer is waited out in short polls.
bool SendAll(Socket socket, const char* data, size_t size, const std::atomic<bool>& stopping) {
  while (size > 0) {
    int sent = send(socket, data, static_cast<int>(std::min<size_t>(size, 1 << 16)), kSendFlags);
    if (sent > 0) {
      data += sent;
      size -= static_cast<size_t>(sent);
      continue;
    }
    if (sent == 0 || !WouldBlock(LastSocketError())) return false;
    while (!stopping) {
      int ready = WaitUntil(Readiness::kWritable, socket, kPollMs);
      if (ready < 0) return false;
      if (ready > 0) break;
    }
    if (stopping) return false;
  }
  return true;
}

constexpr size_t kPatternPeriod = 65521;
constexpr size_t kGeneratedPiece = 1 << 16;

const std::vector<char>& Pattern() {
  static const std::vector<char> kPattern = [] {
    std::vector<char> bytes(kPatternPeriod);
    uint32_t state = 0x12345678u;
    for (char& byte : bytes) {
      state ^= state << 13;  // xorshift32
      state ^= state >> 17;
      state ^= state << 5;
      byte = static_cast<char>(state >> 24);
    }
    return bytes;
  }();
  return kPattern;
}

// Closes without lingering: the port is free again at once, with no TIME_WAIT.
void AbortiveClose(Socket socket) {
  linger option;
  option.l_onoff = 1;
  option.l_linger = 0;
  setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option), sizeof option);
  CloseSocket(socket);
}

// Sends FIN, so the client reads the end of the stream rather than a reset.
void GracefulClose(Socket socket) {
  shutdown(socket, kShutdownSend);
  char scratch[512];
  // Let the client's FIN (or a short grace period) come first, so no unread
  // bytes turn the close into a reset.
  for (int round = 0; round < 10 && WaitUntil(Readiness::kReadable, socket, kPollMs) > 0; ++round) {
    if (recv(socket, scratch, sizeof scratch, 0) <= 0) break;
  }
  CloseSocket(socket);
}

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 206:
      return "Partial Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 307:
      return "Temporary Redirect";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

// Parses the head of a request (without its blank line). False when malformed.
bool ParseHead(const std::string& head, RecordedRequest* request) {
  size_t line_end = head.find("\r\n");
  std::string line = head.substr(0, line_end);
  // Split at the first and the last blank, so a target with raw blanks in it
  // is still recorded whole.
  size_t first = line.find(' ');
  size_t last = line.rfind(' ');
  if (first == std::string::npos || first == last) return false;
  request->method = line.substr(0, first);
  request->target = line.substr(first + 1, last - first - 1);
  request->version = line.substr(last + 1);
  while (line_end != std::string::npos) {
    size_t start = line_end + 2;
    line_end = head.find("\r\n", start);
    std::string header =
        head.substr(start, line_end == std::string::npos ? std::string::npos : line_end - start);
    size_t colon = header.find(':');
    if (colon == std::string::npos) continue;
    request->headers.emplace_back(header.substr(0, colon), Trim(header.substr(colon + 1)));
  }
  return true;
}

}  // namespace

bool RecordedRequest::HasHeader(const std::string& name) const {
  std::string wanted = platform::AsciiLower(name);
  for (const auto& header : headers) {
    if (platform::AsciiLower(header.first) == wanted) return true;
  }
  return false;
}

std::string RecordedRequest::Header(const std::string& name) const {
  std::string wanted = platform::AsciiLower(name);
  for (const auto& header : headers) {
    if (platform::AsciiLower(header.first) == wanted) return header.second;
  }
  return std::string();
}

ResponsePlan ResponsePlan::Status(int status, std::string body) {
  ResponsePlan plan;
  plan.status = status;
  plan.body = std::move(body);
  return plan;
}

ResponsePlan ResponsePlan::Redirect(int status, const std::string& location) {
  ResponsePlan plan;
  plan.status = status;
  plan.headers.emplace_back("Location", location);
  return plan;
}

ResponsePlan ResponsePlan::CloseWithoutAnswer() {
  ResponsePlan plan;
  plan.action = Action::kCloseWithoutAnswer;
  return plan;
}

ResponsePlan ResponsePlan::WithoutLength(std::string body) {
  ResponsePlan plan = Status(200, std::move(body));
  plan.length = Length::kAbsent;
  return plan;
}

ResponsePlan ResponsePlan::ShortBody(std::string body, uint64_t declared_length) {
  ResponsePlan plan = Status(200, std::move(body));
  plan.length = Length::kDeclared;
  plan.declared_length = declared_length;
  plan.close_after = true;
  return plan;
}

ResponsePlan ResponsePlan::ResetMidBody(std::string body, uint64_t declared_length) {
  ResponsePlan plan = ShortBody(std::move(body), declared_length);
  plan.close_after = false;
  plan.reset_after = true;
  return plan;
}

ResponsePlan ResponsePlan::LongBody(std::string body, uint64_t declared_length) {
  return ShortBody(std::move(body), declared_length);  // the same plan; the body is the longer
}

ResponsePlan ResponsePlan::Trickle(uint64_t total, uint32_t interval_ms) {
  ResponsePlan plan = Generated(total);
  plan.chunk_size = 1;
  plan.chunk_delay_ms = interval_ms;
  return plan;
}

ResponsePlan ResponsePlan::TrickleHead(int lines, uint32_t interval_ms) {
  ResponsePlan plan = Status(200);
  for (int i = 0; i < lines; ++i) plan.headers.emplace_back("X-Line", std::to_string(i));
  plan.head_line_delay_ms = interval_ms;
  return plan;
}

ResponsePlan ResponsePlan::LargeHead(std::string body, size_t header_bytes) {
  ResponsePlan plan = Status(200, std::move(body));
  plan.headers.emplace_back("X-Filler", std::string(header_bytes, 'f'));
  return plan;
}

ResponsePlan ResponsePlan::SlowBody(std::string body, size_t chunk_size, uint32_t chunk_delay_ms) {
  ResponsePlan plan = Status(200, std::move(body));
  plan.chunk_size = chunk_size;
  plan.chunk_delay_ms = chunk_delay_ms;
  return plan;
}

ResponsePlan ResponsePlan::Generated(uint64_t size) {
  ResponsePlan plan;
  plan.generated_size = size;
  return plan;
}

// Longer than any test runs; Stop ends the pause.
constexpr uint32_t kForeverMs = 3600 * 1000;

ResponsePlan ResponsePlan::Silent() {
  ResponsePlan plan;
  plan.delay_before_answer_ms = kForeverMs;
  return plan;
}

ResponsePlan ResponsePlan::Stalling(uint64_t sent, uint64_t total) {
  ResponsePlan plan = Generated(total);
  plan.chunk_size = static_cast<size_t>(sent);
  plan.chunk_delay_ms = kForeverMs;
  return plan;
}

void GeneratedBody(uint64_t offset, char* out, size_t size) {
  const std::vector<char>& pattern = Pattern();
  size_t at = static_cast<size_t>(offset % kPatternPeriod);
  while (size > 0) {
    size_t piece = std::min(size, kPatternPeriod - at);
    std::memcpy(out, pattern.data() + at, piece);
    out += piece;
    size -= piece;
    at = 0;
  }
}

std::string GeneratedBody(uint64_t offset, size_t size) {
  std::string bytes(size, '\0');
  if (size > 0) GeneratedBody(offset, &bytes[0], size);
  return bytes;
}

ResponsePlan ResponsePlan::ResetWithoutAnswer() {
  ResponsePlan plan;
  plan.action = Action::kResetWithoutAnswer;
  return plan;
}

struct LoopbackHttpServer::Connection {
  Socket socket = kNoSocket;
  int number = 0;
  std::thread thread;
};

LoopbackHttpServer::LoopbackHttpServer() { StartWinsockOnce(); }

LoopbackHttpServer::~LoopbackHttpServer() { Stop(); }

LoopbackHttpServer::StartResult LoopbackHttpServer::Start(int port, uint32_t in_use_retry_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(in_use_retry_ms);
  for (;;) {
    Socket listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == kNoSocket) return StartResult::kError;
#ifndef _WIN32
    // Connections this server closed first linger in TIME_WAIT on the port;
    // they must not keep the next test's server off it. (On Windows the same
    // option would let two listeners share the port, so it stays off there.)
    int reuse = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
#endif
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<unsigned short>(port));
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(listener, 16) == 0) {
      sockaddr_in bound;
      socklen_t length = sizeof bound;
      getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length);
      port_ = ntohs(bound.sin_port);
      listener_ = static_cast<intptr_t>(listener);
      stopping_ = false;
      acceptor_ = std::thread(&LoopbackHttpServer::AcceptLoop, this);
      return StartResult::kOk;
    }
    int error = LastSocketError();
    CloseSocket(listener);
    if (IsPermissionDenied(error)) return StartResult::kPermissionDenied;
    if (!IsAddressInUse(error)) return StartResult::kError;
    if (std::chrono::steady_clock::now() >= deadline) return StartResult::kAddressInUse;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

void LoopbackHttpServer::Stop() {
  stopping_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  if (listener_ != -1) {
    CloseSocket(static_cast<Socket>(listener_));
    listener_ = -1;
  }
  std::vector<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    connections.swap(connections_);
  }
  for (auto& connection : connections) {
    if (connection->thread.joinable()) connection->thread.join();
  }
}

void LoopbackHttpServer::SetDefaultResponse(const ResponsePlan& plan) {
  std::lock_guard<std::mutex> guard(mutex_);
  default_plan_ = plan;
}

void LoopbackHttpServer::SetResponder(Responder responder) {
  std::lock_guard<std::mutex> guard(mutex_);
  responder_ = std::move(responder);
}

std::vector<RecordedRequest> LoopbackHttpServer::Requests() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return requests_;
}

size_t LoopbackHttpServer::RequestCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return requests_.size();
}

int LoopbackHttpServer::ConnectionCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return static_cast<int>(connections_.size());
}

bool LoopbackHttpServer::WaitForRequests(size_t count, uint32_t timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return requests_.size() >= count; });
}

void LoopbackHttpServer::AcceptLoop() {
  Socket listener = static_cast<Socket>(listener_);
  while (!stopping_) {
    if (WaitUntil(Readiness::kReadable, listener, kPollMs) <= 0) continue;
    Socket accepted = accept(listener, nullptr, nullptr);
    if (accepted == kNoSocket) continue;
    MakeNonBlocking(accepted);
    // A head and its body go out in two sends: without this the body would
    // wait for the client's delayed acknowledgement (some 40 ms an answer).
    int no_delay = 1;
    setsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay),
               sizeof no_delay);
    std::lock_guard<std::mutex> guard(mutex_);
    connections_.emplace_back(new Connection);
    Connection* connection = connections_.back().get();
    connection->socket = accepted;
    connection->number = static_cast<int>(connections_.size());
    connection->thread = std::thread(&LoopbackHttpServer::Serve, this, connection);
  }
}

ResponsePlan LoopbackHttpServer::PlanFor(const RecordedRequest& request) {
  Responder responder;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!responder_) return default_plan_;
    responder = responder_;
  }
  return responder(request);
}

void LoopbackHttpServer::Serve(Connection* connection) {
  Socket socket = connection->socket;
  std::string buffer;
  bool reset = false;
  // Reads more bytes into the buffer; false when the connection or the server ends.
  auto receive_more = [&]() {
    while (!stopping_) {
      int ready = WaitUntil(Readiness::kReadable, socket, kPollMs);
      if (ready < 0) return false;
      if (ready == 0) continue;
      char chunk[4096];
      int got = recv(socket, chunk, sizeof chunk, 0);
      if (got < 0 && WouldBlock(LastSocketError())) continue;
      if (got <= 0) return false;
      buffer.append(chunk, static_cast<size_t>(got));
      return true;
    }
    return false;
  };

  // Reads, records and answers one request; false when the connection ends.
  auto serve_one = [&]() {
    size_t head_end;
    while ((head_end = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (!receive_more()) return false;
    }
    RecordedRequest request;
    bool well_formed = ParseHead(buffer.substr(0, head_end), &request);
    buffer.erase(0, head_end + 4);
    if (!well_formed) return false;
    size_t body_size =
        static_cast<size_t>(std::strtoull(request.Header("Content-Length").c_str(), nullptr, 10));
    while (buffer.size() < body_size) {
      if (!receive_more()) return false;
    }
    request.body = buffer.substr(0, body_size);
    buffer.erase(0, body_size);
    request.connection = connection->number;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      request.index = static_cast<int>(requests_.size());
      requests_.push_back(request);
    }
    arrived_.notify_all();

    ResponsePlan plan = PlanFor(request);
    if (plan.action == ResponsePlan::Action::kResetWithoutAnswer) reset = true;
    if (plan.action != ResponsePlan::Action::kAnswer) return false;
    if (!Answer(connection, plan)) return false;
    if (plan.reset_after) {
      reset = true;
      return false;
    }
    std::string connection_header = platform::AsciiLower(request.Header("Connection"));
    bool client_closes = connection_header == "close" ||
                         (request.version == "HTTP/1.0" && connection_header != "keep-alive");
    return !(plan.close_after || plan.length == ResponsePlan::Length::kAbsent || client_closes);
  };

  while (serve_one()) {
  }
  // At Stop the connection is reset too, so no TIME_WAIT keeps the port.
  if (reset || stopping_) {
    AbortiveClose(socket);
  } else {
    GracefulClose(socket);
  }
}

bool LoopbackHttpServer::Answer(Connection* connection, const ResponsePlan& plan) {
  Socket socket = connection->socket;
  // Sleeps in short steps so Stop is not held up.
  auto pause = [&](uint32_t milliseconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!stopping_ && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<uint32_t>(milliseconds, 10)));
    }
    return !stopping_;
  };
  if (plan.delay_before_answer_ms && !pause(plan.delay_before_answer_ms)) return false;

  std::string head = "HTTP/1.1 " + std::to_string(plan.status) + " " +
                     (plan.reason.empty() ? ReasonPhrase(plan.status) : plan.reason) + "\r\n";
  for (const auto& header : plan.headers) head += header.first + ": " + header.second + "\r\n";
  const uint64_t body_size = plan.generated_size ? plan.generated_size : plan.body.size();
  switch (plan.length) {
    case ResponsePlan::Length::kExact:
      head += "Content-Length: " + std::to_string(body_size) + "\r\n";
      break;
    case ResponsePlan::Length::kDeclared:
      head += "Content-Length: " + std::to_string(plan.declared_length) + "\r\n";
      break;
    case ResponsePlan::Length::kAbsent:
      break;
  }
  if (plan.close_after || plan.length == ResponsePlan::Length::kAbsent) {
    head += "Connection: close\r\n";
  }
  head += "\r\n";
  for (size_t at = 0, end; at < head.size(); at = end) {
    end = plan.head_line_delay_ms ? head.find('\n', at) + 1 : head.size();
    if (at > 0 && !pause(plan.head_line_delay_ms)) return false;
    if (!SendAll(socket, head.data() + at, end - at, stopping_)) return false;
  }

  const uint64_t chunk = plan.chunk_size       ? plan.chunk_size
                         : plan.generated_size ? kGeneratedPiece
                                               : std::max<uint64_t>(body_size, 1);
  std::vector<char> piece;
  for (uint64_t offset = 0; offset < body_size; offset += chunk) {
    if (offset > 0 && plan.chunk_delay_ms && !pause(plan.chunk_delay_ms)) return false;
    size_t size = static_cast<size_t>(std::min(chunk, body_size - offset));
    const char* data;
    if (plan.generated_size) {
      piece.resize(size);
      GeneratedBody(offset, piece.data(), size);
      data = piece.data();
    } else {
      data = plan.body.data() + offset;
    }
    if (!SendAll(socket, data, size, stopping_)) return false;
  }
  return !plan.reset_after || !plan.pause_before_reset_ms || pause(plan.pause_before_reset_ms);
}

ServerWatchdog::ServerWatchdog(LoopbackHttpServer& server, uint32_t limit_ms) {
  thread_ = std::thread([this, &server, limit_ms] {
    std::unique_lock<std::mutex> lock(mutex_);
    if (dismissed_.wait_for(lock, std::chrono::milliseconds(limit_ms), [this] { return done_; })) {
      return;
    }
    fired_ = true;
    lock.unlock();
    server.Stop();
  });
}

ServerWatchdog::~ServerWatchdog() { Dismiss(); }

bool ServerWatchdog::Dismiss() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    done_ = true;
  }
  dismissed_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> guard(mutex_);
  return fired_;
}

}  // namespace testing_servers
