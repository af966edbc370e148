#include "tools/collector/request_stream.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tools/collector/report_parser.h"

namespace {

// The longest request line that is normalized; longer ones pass as they are
// and the library refuses them.
constexpr size_t kLineLimit = 16384;

bool Wait(int socket, short events, int timeout_ms) {
  pollfd entry{socket, events, 0};
  for (;;) {
    const int n = poll(&entry, 1, timeout_ms);
    if (n >= 0) return n > 0;
    if (errno != EINTR) return false;
  }
}

void Address(int socket, bool peer, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  const int rc = peer ? getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length)
                      : getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
  if (rc != 0) return;
  char host[NI_MAXHOST];
  char service[NI_MAXSERV];
  if (getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, service,
                  sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
    ip = host;
    port = std::atoi(service);
  }
}

}  // namespace

bool RequestStream::is_readable() const {
  return offset_ < buffer_.size() || Wait(socket_, POLLIN, timeout_ms_);
}

bool RequestStream::is_writable() const { return Wait(socket_, POLLOUT, timeout_ms_); }

bool RequestStream::Fill(int timeout_ms) {
  if (!Wait(socket_, POLLIN, timeout_ms)) return false;
  if (offset_ == buffer_.size() || offset_ > 65536) {
    buffer_.erase(0, offset_);
    offset_ = 0;
  }
  char chunk[16384];
  ssize_t n;
  do {
    n = recv(socket_, chunk, sizeof chunk, 0);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    closed_ = true;
    return false;
  }
  buffer_.append(chunk, static_cast<size_t>(n));
  return true;
}

bool RequestStream::AwaitRequest(int timeout_ms) {
  return offset_ < buffer_.size() || Fill(timeout_ms);
}

void RequestStream::NormalizeRequestLineAhead() {
  size_t end;
  last_line_unreadable_ = true;
  while ((end = buffer_.find('\n', offset_)) == std::string::npos) {
    if (buffer_.size() - offset_ > kLineLimit || !Fill(timeout_ms_)) return;
  }
  if (end - offset_ > kLineLimit) return;
  const size_t content_end = end > offset_ && buffer_[end - 1] == '\r' ? end - 1 : end;
  const std::string line = buffer_.substr(offset_, content_end - offset_);
  const std::string normal = NormalizeRequestLine(line);
  last_line_unreadable_ = !IsRequestLine(normal);
  if (normal != line) buffer_.replace(offset_, content_end - offset_, normal);
}

ssize_t RequestStream::read(char* ptr, size_t size) {
  if (size == 0) return 0;
  if (offset_ == buffer_.size() && !Fill(timeout_ms_)) return -1;
  // The first line after an empty one (or at the connection's start) is a
  // request line. A body line would be taken for one too, but reports have
  // no body, and the library refuses other requests whatever their body.
  if (line_start_ && head_end_ && buffer_[offset_] != '\r' && buffer_[offset_] != '\n') {
    NormalizeRequestLineAhead();
  }
  size_t n = std::min(size, buffer_.size() - offset_);
  // At most one line at a time, so that the state follows every line end.
  const size_t newline = buffer_.find('\n', offset_);
  if (newline != std::string::npos && newline < offset_ + n) n = newline + 1 - offset_;
  for (size_t i = offset_; i < offset_ + n; ++i) {
    const char c = buffer_[i];
    if (c == '\n') {
      head_end_ = !line_has_content_;
      line_start_ = true;
      line_has_content_ = false;
    } else if (c != '\r') {
      line_has_content_ = true;
      line_start_ = false;
    }
  }
  std::memcpy(ptr, buffer_.data() + offset_, n);
  offset_ += n;
  return static_cast<ssize_t>(n);
}

ssize_t RequestStream::write(const char* ptr, size_t size) {
  size_t done = 0;
  while (done < size) {
    if (!Wait(socket_, POLLOUT, timeout_ms_)) return -1;
    const ssize_t n = send(socket_, ptr + done, size - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(size);
}

void RequestStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  Address(socket_, true, ip, port);
}

void RequestStream::get_local_ip_and_port(std::string& ip, int& port) const {
  Address(socket_, false, ip, port);
}
