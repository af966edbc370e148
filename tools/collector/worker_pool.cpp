#include "tools/collector/worker_pool.h"

namespace collector {

WorkerPool::WorkerPool(int threads, size_t max_pending) : max_pending_(max_pending) {
  for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  posted_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

bool WorkerPool::Post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (tasks_.size() >= max_pending_) return false;
    tasks_.push_back(std::move(task));
  }
  posted_.notify_one();
  return true;
}

void WorkerPool::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    posted_.wait(lock, [this] { return closing_ || !tasks_.empty(); });
    if (tasks_.empty()) return;  // closing, nothing left
    std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
}

}  // namespace collector
