#include "tools/collector/service.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/collector/metrics.h"
#include "tools/collector/unique_fd.h"

namespace collector {

bool NotifyServiceManager(const char* state) {
  const char* path = std::getenv("NOTIFY_SOCKET");
  if (!path || !*path) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const size_t length = std::strlen(path);
  if (length >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path, length);
  if (address.sun_path[0] == '@') address.sun_path[0] = '\0';  // an abstract socket
  UniqueFd fd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) return false;
  const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  return sendto(fd.get(), state, std::strlen(state), MSG_NOSIGNAL,
                reinterpret_cast<const sockaddr*>(&address), size) >= 0;
}

MinuteLog::MinuteLog(const Metrics& metrics, int interval_ms) : metrics_(metrics) {
  thread_ = std::thread([this, interval_ms] {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_.wait_for(lock, std::chrono::milliseconds(interval_ms),
                           [this] { return stopping_; })) {
      std::fprintf(stderr,
                   "kestrel-collector: %llu requests, %llu reports stored, %llu rejected, "
                   "%llu failed commits, %llu connections open\n",
                   static_cast<unsigned long long>(metrics_.requests()),
                   static_cast<unsigned long long>(metrics_.records()),
                   static_cast<unsigned long long>(metrics_.rejects()),
                   static_cast<unsigned long long>(metrics_.failed_commits()),
                   static_cast<unsigned long long>(metrics_.open_connections()));
    }
  });
}

MinuteLog::~MinuteLog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  thread_.join();
}

}  // namespace collector
