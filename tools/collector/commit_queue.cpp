#include "tools/collector/commit_queue.h"

#include <chrono>
#include <cstdio>

namespace collector {

CommitQueue::CommitQueue(Store& store, Metrics& metrics, uint64_t max_store_bytes)
    : store_(store),
      metrics_(metrics),
      max_store_bytes_(max_store_bytes),
      open_(std::make_shared<Group>()) {
  committer_ = std::thread([this] { CommitLoop(); });
}

CommitQueue::~CommitQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  gathered_.notify_one();
  committer_.join();
}

CommitResult CommitQueue::Submit(ReportRecord record) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (closing_) return CommitResult::kFailed;
  std::shared_ptr<Group> group = open_;
  group->records.push_back(std::move(record));
  if (group->records.size() == 1) gathered_.notify_one();
  committed_.wait(lock, [&group] { return group->done; });
  return group->result;
}

bool CommitQueue::Full() {
  if (max_store_bytes_ == 0) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now - measured_ < std::chrono::seconds(1)) return full_;
  measured_ = now;
  std::string error;
  // A size that cannot be read keeps the last answer: the commit will tell
  // whether the store works.
  if (std::optional<uint64_t> bytes = store_.UsedBytes(&error)) {
    full_ = *bytes >= max_store_bytes_;
  } else {
    std::fprintf(stderr, "kestrel-collector: the store's size: %s\n", error.c_str());
  }
  return full_;
}

void CommitQueue::CommitLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    gathered_.wait(lock, [this] { return closing_ || !open_->records.empty(); });
    if (open_->records.empty()) return;  // closing, nothing left
    // Records that arrive during this commit gather in the next group.
    std::shared_ptr<Group> group = std::move(open_);
    open_ = std::make_shared<Group>();
    lock.unlock();

    CommitResult result = CommitResult::kStoreFull;
    if (!Full()) {
      const auto start = std::chrono::steady_clock::now();
      std::string error;
      const bool ok = store_.Append(group->records, &error);
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      metrics_.CountCommit(group->records.size(), seconds, ok);
      if (!ok) std::fprintf(stderr, "kestrel-collector: commit failed: %s\n", error.c_str());
      result = ok ? CommitResult::kStored : CommitResult::kFailed;
    }

    lock.lock();
    group->done = true;
    group->result = result;
    committed_.notify_all();
  }
}

}  // namespace collector
