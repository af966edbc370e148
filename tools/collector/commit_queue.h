// Groups the records of concurrent requests into one commit each: a request
// thread hands in its record and waits until the commit that holds it is
// done, while one committer thread writes whatever has gathered meanwhile.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/collector/metrics.h"
#include "tools/collector/store.h"

class CommitQueue {
 public:
  CommitQueue(Store& store, Metrics& metrics);
  // Commits what was handed in before it, then ends the committer.
  ~CommitQueue();
  CommitQueue(const CommitQueue&) = delete;
  CommitQueue& operator=(const CommitQueue&) = delete;

  // Waits until the record is committed; false when the store refused the
  // commit (the record is then not stored) or the queue is closing.
  bool Commit(ReportRecord record);

 private:
  struct Group {
    std::vector<ReportRecord> records;
    bool done = false;
    bool ok = false;
  };

  void Run();

  Store& store_;
  Metrics& metrics_;
  std::mutex mutex_;
  std::condition_variable gathered_;   // the committer waits for records
  std::condition_variable committed_;  // the request threads wait for their group
  std::shared_ptr<Group> open_;        // under mutex_: the group records join
  bool closing_ = false;               // under mutex_
  std::thread committer_;
};
