#include "tools/collector/commit_queue.h"

#include <chrono>
#include <cstdio>

CommitQueue::CommitQueue(Store& store, Metrics& metrics)
    : store_(store), metrics_(metrics), open_(std::make_shared<Group>()) {
  committer_ = std::thread([this] { Run(); });
}

CommitQueue::~CommitQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  gathered_.notify_one();
  committer_.join();
}

bool CommitQueue::Commit(ReportRecord record) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (closing_) return false;
  std::shared_ptr<Group> group = open_;
  group->records.push_back(std::move(record));
  if (group->records.size() == 1) gathered_.notify_one();
  committed_.wait(lock, [&group] { return group->done; });
  return group->ok;
}

void CommitQueue::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    gathered_.wait(lock, [this] { return closing_ || !open_->records.empty(); });
    if (open_->records.empty()) return;  // closing, nothing left
    // Records that arrive during this commit gather in the next group.
    std::shared_ptr<Group> group = std::move(open_);
    open_ = std::make_shared<Group>();
    lock.unlock();

    const auto start = std::chrono::steady_clock::now();
    std::string error;
    const bool ok = store_.Append(group->records, &error);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    metrics_.CountCommit(group->records.size(), seconds, ok);
    if (!ok) std::fprintf(stderr, "kestrel-collector: commit failed: %s\n", error.c_str());

    lock.lock();
    group->done = true;
    group->ok = ok;
    committed_.notify_all();
  }
}
