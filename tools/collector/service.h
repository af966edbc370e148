// What a service manager needs of kestrel-collector: readiness told to it,
// and one line a minute of counts on standard error for its journal.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace collector {

class Metrics;

// Sends `state` ("READY=1", "STOPPING=1") to the socket systemd names in
// $NOTIFY_SOCKET; false, doing nothing, when it names none or the send fails.
bool NotifyServiceManager(const char* state);

// Writes the counts of `metrics` to standard error every `interval_ms`, from
// a thread of its own, until destroyed.
class MinuteLog {
 public:
  MinuteLog(const Metrics& metrics, int interval_ms = 60000);
  ~MinuteLog();
  MinuteLog(const MinuteLog&) = delete;
  MinuteLog& operator=(const MinuteLog&) = delete;

 private:
  const Metrics& metrics_;
  std::mutex mutex_;  // guards stopping_
  std::condition_variable stop_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace collector
