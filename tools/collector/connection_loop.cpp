#include "tools/collector/connection_loop.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tools/collector/unique_fd.h"

namespace collector {

namespace {

// epoll's tag of each fd: the wake-up, the listeners, then the connections.
constexpr uint64_t kWakeTag = 0;
constexpr uint64_t kFirstConnection = 1 << 20;
constexpr int kSweepMs = 100;  // how late a deadline may be seen
constexpr int kForgetMs = 1000;
constexpr size_t kReadChunk = 16384;
// After an answer that ends the connection, what the peer still sends is
// read and dropped for a while, so that the close does not reset the
// connection before the peer has read the answer (as nginx's lingering close).
constexpr int kLingerMs = 2000;
constexpr size_t kLingerBytes = 1 << 20;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The statuses the collector answers with.
const char* StatusText(int status) {
  static const std::pair<int, const char*> kTexts[] = {
      {200, "OK"},           {400, "Bad Request"},           {404, "Not Found"},
      {414, "URI Too Long"}, {500, "Internal Server Error"}, {503, "Service Unavailable"},
  };
  for (const auto& [code, text] : kTexts) {
    if (code == status) return text;
  }
  return "Unknown";
}

}  // namespace

class ConnectionLoop::Impl {
 public:
  Impl(const ConnectionLimits& limits, Metrics& metrics, RequestHandler& handler)
      : limits_(limits), metrics_(metrics), handler_(handler), book_(limits.address) {
    epoll_ = UniqueFd(epoll_create1(EPOLL_CLOEXEC));
    wake_ = UniqueFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kWakeTag;
    epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wake_.get(), &event);
  }

  int Listen(const std::string& host, int port, bool reports, int* index, std::string* error);
  void Run();
  void Stop() {
    stopping_ = true;
    Wake();
  }
  void Respond(uint64_t connection, Answer answer) {
    {
      std::lock_guard<std::mutex> lock(inbox_mutex_);
      inbox_.emplace_back(connection, std::move(answer));
    }
    Wake();
  }

 private:
  enum class State { kWaiting, kBusy, kWriting, kLingering };

  struct Listener {
    UniqueFd fd;
    bool reports = false;
    bool paused = false;  // out of file descriptors: accepting again at the next sweep
  };

  struct Connection {
    explicit Connection(const HeadLimits& head) : reader(head) {}
    UniqueFd fd;
    std::string key;  // its address's, in the book
    std::string peer;
    int listener = 0;
    bool reports = false;  // its listener's
    State state = State::kWaiting;
    std::string in;  // received, not yet taken; a head begins at its start
    HeadReader reader;
    int64_t since_ms = 0;        // the start of the wait, the answer or the linger
    int64_t head_start_ms = -1;  // the first byte of the head being read; -1: none yet
    bool keep_alive = true;      // what the request being answered allows
    int answered = 0;
    std::string out;
    size_t sent = 0;
    bool close_after = false;
    bool peer_gone = false;  // it hung up while its request was under way
    size_t lingered = 0;
  };

  void Wake() {
    const uint64_t one = 1;
    ssize_t ignored = write(wake_.get(), &one, sizeof one);
    (void)ignored;
  }
  void Watch(uint64_t tag, int fd, uint32_t events, int op) {
    epoll_event event{};
    event.events = events;
    event.data.u64 = tag;
    epoll_ctl(epoll_.get(), op, fd, &event);
  }
  void Interest(uint64_t id, Connection& c, uint32_t events) {
    Watch(id, c.fd.get(), events, EPOLL_CTL_MOD);
  }

  void Accept(int index, int64_t now);
  void OnEvent(uint64_t id, uint32_t events, int64_t now);
  void ReadHead(uint64_t id, Connection& c, int64_t now);
  void Advance(uint64_t id, Connection& c, int64_t now);
  void Refuse(uint64_t id, Connection& c, Refusal why, int64_t now);
  void Send(uint64_t id, Connection& c, const Answer& answer, int64_t now);
  void Write(uint64_t id, Connection& c, int64_t now);
  void TakeAnswers(int64_t now);
  void Sweep(int64_t now);
  void Close(uint64_t id);

  const ConnectionLimits limits_;
  Metrics& metrics_;
  RequestHandler& handler_;
  UniqueFd epoll_;
  UniqueFd wake_;
  // The loop's thread alone, once Run has begun (Listen comes before it).
  std::vector<Listener> listeners_;
  std::unordered_map<uint64_t, Connection> connections_;
  size_t open_reports_ = 0;    // of connections_, on the report port
  size_t open_operators_ = 0;  // and on the operator's
  AddressBook book_;
  uint64_t next_id_ = kFirstConnection;
  int64_t last_sweep_ms_ = 0;
  int64_t last_forget_ms_ = 0;
  // Any thread writes; the loop reads.
  std::atomic<bool> stopping_{false};
  std::mutex inbox_mutex_;
  std::vector<std::pair<uint64_t, Answer>>
      inbox_;  // under inbox_mutex_: workers add, the loop takes
};

int ConnectionLoop::Impl::Listen(const std::string& host, int port, bool reports, int* index,
                                 std::string* error) {
  const std::string where = host + ":" + std::to_string(port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.empty() ? nullptr : host.c_str(), std::to_string(port).c_str(),
                             &hints, &found);
  if (rc != 0) {
    *error = "cannot listen on " + where + ": " + gai_strerror(rc);
    return -1;
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
  UniqueFd fd(socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  const int one = 1;
  setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // A burst of new connections must not meet refusals and retries of a second.
  if (!fd.valid() || bind(fd.get(), found->ai_addr, found->ai_addrlen) != 0 ||
      listen(fd.get(), 1024) != 0) {
    *error = "cannot listen on " + where + ": " + std::strerror(errno);
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &length);
  const int bound_port =
      ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                        : reinterpret_cast<sockaddr_in&>(bound).sin_port);
  *index = static_cast<int>(listeners_.size());
  Watch(1 + *index, fd.get(), EPOLLIN, EPOLL_CTL_ADD);
  listeners_.push_back({std::move(fd), reports, false});
  return bound_port;
}

void ConnectionLoop::Impl::Run() {
  epoll_event events[256];
  bool stopped = false;
  for (;;) {
    const int n = epoll_wait(epoll_.get(), events, 256, kSweepMs);
    const int64_t now = NowMs();
    for (int i = 0; i < n; ++i) {
      const uint64_t tag = events[i].data.u64;
      if (tag == kWakeTag) {
        uint64_t count;
        while (read(wake_.get(), &count, sizeof count) > 0) {
        }
      } else if (tag < kFirstConnection) {
        if (!stopped) Accept(static_cast<int>(tag - 1), now);
      } else {
        OnEvent(tag, events[i].events, now);
      }
    }
    TakeAnswers(now);
    if (now - last_sweep_ms_ >= kSweepMs) Sweep(now);
    if (stopping_ && !stopped) {
      stopped = true;
      listeners_.clear();
    }
    if (stopped) {
      std::vector<uint64_t> idle;
      for (auto& [id, c] : connections_) {
        if (c.state == State::kWaiting || c.state == State::kLingering) idle.push_back(id);
      }
      for (uint64_t id : idle) Close(id);
      if (connections_.empty()) break;
    }
  }
  metrics_.SetOpenConnections(0);
}

void ConnectionLoop::Impl::Accept(int index, int64_t now) {
  Listener& listener = listeners_[index];
  for (int accepted = 0; accepted < 64; ++accepted) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    UniqueFd fd(accept4(listener.fd.get(), reinterpret_cast<sockaddr*>(&address), &length,
                        SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.valid()) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // The listener would stay readable and the loop would spin.
        listener.paused = true;
        Watch(1 + index, listener.fd.get(), 0, EPOLL_CTL_MOD);
        std::fprintf(stderr, "kestrel-collector: accept: %s\n", std::strerror(errno));
      }
      return;
    }
    // Refused connections are closed unanswered: the sender keeps its record.
    size_t& open = listener.reports ? open_reports_ : open_operators_;
    if (open >= static_cast<size_t>(listener.reports ? limits_.max_connections
                                                     : limits_.max_operator_connections)) {
      metrics_.CountRefusal(Refusal::kConnections);
      continue;
    }
    std::string key = AddressBook::Key(address);
    if (!book_.Admit(key, now)) {
      metrics_.CountRefusal(Refusal::kConnectionsPerAddress);
      continue;
    }
    const int one = 1;
    setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const uint64_t id = next_id_++;
    Connection& c = connections_.emplace(id, Connection(limits_.head)).first->second;
    ++open;
    c.key = std::move(key);
    c.peer = AddressBook::Text(address);
    c.listener = index;
    c.reports = listener.reports;
    c.since_ms = now;
    Watch(id, fd.get(), EPOLLIN | EPOLLRDHUP, EPOLL_CTL_ADD);
    c.fd = std::move(fd);
  }
}

void ConnectionLoop::Impl::OnEvent(uint64_t id, uint32_t events, int64_t now) {
  auto found = connections_.find(id);
  if (found == connections_.end()) return;
  Connection& c = found->second;
  switch (c.state) {
    case State::kWaiting:
      ReadHead(id, c, now);
      break;
    case State::kBusy:
      // Only a hang-up or an error is watched for meanwhile.
      if (events & (EPOLLERR | EPOLLHUP)) {
        c.peer_gone = true;
        Watch(id, c.fd.get(), 0, EPOLL_CTL_DEL);
      }
      break;
    case State::kWriting:
      if (events & (EPOLLERR | EPOLLHUP)) {
        Close(id);
      } else {
        Write(id, c, now);
      }
      break;
    case State::kLingering: {
      char scratch[kReadChunk];
      const ssize_t n = recv(c.fd.get(), scratch, sizeof scratch, 0);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
      if (n <= 0 || (c.lingered += static_cast<size_t>(n)) > kLingerBytes) Close(id);
      break;
    }
  }
}

void ConnectionLoop::Impl::ReadHead(uint64_t id, Connection& c, int64_t now) {
  char chunk[kReadChunk];
  const ssize_t n = recv(c.fd.get(), chunk, sizeof chunk, 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    // The peer ended the connection (or it failed): nothing to answer.
    Close(id);
    return;
  }
  if (c.head_start_ms < 0) c.head_start_ms = now;
  c.in.append(chunk, static_cast<size_t>(n));
  Advance(id, c, now);
}

void ConnectionLoop::Impl::Advance(uint64_t id, Connection& c, int64_t now) {
  switch (c.reader.Read(c.in)) {
    case HeadReader::State::kPartial:
      return;
    case HeadReader::State::kRefused:
      Refuse(id, c, c.reader.refusal(), now);
      return;
    case HeadReader::State::kComplete:
      break;
  }
  Request request;
  request.connection = id;
  request.listener = c.listener;
  request.head = c.reader.head();
  request.peer = c.peer;
  c.in.erase(0, c.reader.head_bytes());
  c.reader.Reset();
  c.head_start_ms = -1;
  c.keep_alive = request.head.keep_alive;
  if (c.reports && !book_.TakeRequest(c.key, now)) {
    Refuse(id, c, Refusal::kRate, now);
    return;
  }
  c.state = State::kBusy;
  Interest(id, c, 0);
  handler_.Handle(std::move(request));
}

void ConnectionLoop::Impl::Refuse(uint64_t id, Connection& c, Refusal why, int64_t now) {
  metrics_.CountRefusal(why);
  const RefusalInfo& info = DescribeRefusal(why);
  if (info.status == 0) {
    Close(id);
    return;
  }
  Answer answer;
  answer.status = info.status;
  answer.content_type = "text/plain";
  answer.body = std::string(info.label) + "\n";
  answer.close = true;
  Send(id, c, answer, now);
}

void ConnectionLoop::Impl::Send(uint64_t id, Connection& c, const Answer& answer, int64_t now) {
  static const std::string kTooLarge = "answer too large\n";
  const bool too_large = answer.body.size() > limits_.max_answer_bytes;
  const int status = too_large ? 500 : answer.status;
  const std::string& body = too_large ? kTooLarge : answer.body;
  if (c.reports) {
    metrics_.CountRequest();
    if (status >= 400 && status < 500) metrics_.CountReject();
  }
  ++c.answered;
  c.close_after =
      answer.close || !c.keep_alive || c.answered >= limits_.keep_alive_requests || stopping_;
  c.out = "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) +
          "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  if (!answer.content_type.empty()) c.out += "Content-Type: " + answer.content_type + "\r\n";
  if (c.close_after) {
    c.out += "Connection: close\r\n\r\n";
  } else {
    c.out += "Keep-Alive: timeout=" + std::to_string((limits_.keep_alive_ms + 999) / 1000) +
             ", max=" + std::to_string(limits_.keep_alive_requests - c.answered) + "\r\n\r\n";
  }
  c.out += body;
  c.sent = 0;
  c.state = State::kWriting;
  c.since_ms = now;
  Interest(id, c, EPOLLOUT);
  Write(id, c, now);
}

void ConnectionLoop::Impl::Write(uint64_t id, Connection& c, int64_t now) {
  while (c.sent < c.out.size()) {
    const ssize_t n = send(c.fd.get(), c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;  // the rest when the peer takes it
    if (n <= 0) {
      Close(id);
      return;
    }
    c.sent += static_cast<size_t>(n);
  }
  std::string().swap(c.out);
  if (c.close_after) {
    shutdown(c.fd.get(), SHUT_WR);
    c.state = State::kLingering;
    c.since_ms = now;
    c.in.clear();
    Interest(id, c, EPOLLIN | EPOLLRDHUP);
    return;
  }
  c.state = State::kWaiting;
  c.since_ms = now;
  Interest(id, c, EPOLLIN | EPOLLRDHUP);
  // A request the peer sent before this answer is read at once.
  if (!c.in.empty()) {
    c.head_start_ms = now;
    Advance(id, c, now);
  }
}

void ConnectionLoop::Impl::TakeAnswers(int64_t now) {
  std::vector<std::pair<uint64_t, Answer>> answers;
  {
    std::lock_guard<std::mutex> lock(inbox_mutex_);
    answers.swap(inbox_);
  }
  for (auto& [id, answer] : answers) {
    auto found = connections_.find(id);
    if (found == connections_.end() || found->second.state != State::kBusy) continue;
    if (found->second.peer_gone) {
      Close(id);
    } else {
      Send(id, found->second, answer, now);
    }
  }
}

void ConnectionLoop::Impl::Sweep(int64_t now) {
  last_sweep_ms_ = now;
  std::vector<uint64_t> ended;
  for (auto& [id, c] : connections_) {
    switch (c.state) {
      case State::kWaiting:
        if (c.head_start_ms >= 0 && now - c.head_start_ms >= limits_.head_timeout_ms) {
          metrics_.CountRefusal(Refusal::kHeadDeadline);
          ended.push_back(id);
        } else if (c.head_start_ms < 0 && now - c.since_ms >= limits_.keep_alive_ms) {
          ended.push_back(id);
        }
        break;
      case State::kWriting:
        if (now - c.since_ms >= limits_.answer_timeout_ms) {
          metrics_.CountRefusal(Refusal::kAnswerDeadline);
          ended.push_back(id);
        }
        break;
      case State::kLingering:
        if (now - c.since_ms >= kLingerMs) ended.push_back(id);
        break;
      case State::kBusy:
        break;  // its answer comes within the store's own deadlines
    }
  }
  for (uint64_t id : ended) Close(id);
  for (size_t i = 0; i < listeners_.size(); ++i) {
    if (listeners_[i].paused) {
      listeners_[i].paused = false;
      Watch(1 + i, listeners_[i].fd.get(), EPOLLIN, EPOLL_CTL_MOD);
    }
  }
  if (now - last_forget_ms_ >= kForgetMs) {
    last_forget_ms_ = now;
    book_.Forget(now);
  }
  metrics_.SetOpenConnections(connections_.size());
}

void ConnectionLoop::Impl::Close(uint64_t id) {
  auto found = connections_.find(id);
  if (found == connections_.end()) return;
  book_.Release(found->second.key);
  --(found->second.reports ? open_reports_ : open_operators_);
  connections_.erase(found);  // its fd leaves the epoll set as it closes
}

ConnectionLoop::ConnectionLoop(const ConnectionLimits& limits, Metrics& metrics,
                               RequestHandler& handler)
    : impl_(std::make_unique<Impl>(limits, metrics, handler)) {}

ConnectionLoop::~ConnectionLoop() = default;

int ConnectionLoop::Listen(const std::string& host, int port, bool reports, int* index,
                           std::string* error) {
  return impl_->Listen(host, port, reports, index, error);
}

void ConnectionLoop::Run() { impl_->Run(); }

void ConnectionLoop::Stop() { impl_->Stop(); }

void ConnectionLoop::Respond(uint64_t connection, Answer answer) {
  impl_->Respond(connection, std::move(answer));
}

}  // namespace collector
