// Records the events that the code under test posts: a real event logger in a
// scratch folder, installed as the process-wide logger while the object lives.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/test_paths.h"

class EventLogger;
namespace platform {
class Registry;
}

class RecordedEvents {
 public:
  // `registry` answers the AGENT field of event 7003 (null: the system's).
  explicit RecordedEvents(platform::Registry* registry = nullptr);
  ~RecordedEvents();
  RecordedEvents(const RecordedEvents&) = delete;
  RecordedEvents& operator=(const RecordedEvents&) = delete;

  // Ends the logger (no further events are recorded) and returns the ids of
  // the logged records in order; kUnreadableRecord for a line that is none.
  std::vector<int> Ids();
  static constexpr int kUnreadableRecord = -1000000;
  // Ends the logger and returns the log file's text.
  std::string LogText();

 private:
  void Finish();

  test_paths::ScratchFolder folder_;
  std::unique_ptr<EventLogger> logger_;
  bool finished_ = false;
};
