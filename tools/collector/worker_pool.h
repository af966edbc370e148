// Threads that run posted tasks, oldest first; at most `max_pending` wait.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace collector {

class WorkerPool {
 public:
  WorkerPool(int threads, size_t max_pending);
  // Runs what was posted, then ends the threads.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // False, the task dropped, when `max_pending` tasks wait already.
  bool Post(std::function<void()> task);

 private:
  void Work();

  const size_t max_pending_;
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> tasks_;  // under mutex_: any thread adds, the workers take
  bool closing_ = false;                     // under mutex_
  std::vector<std::thread> threads_;
};

}  // namespace collector
