// Records the events that the code under test posts: a real event logger in a
// scratch folder, handed to that code as its event sink.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "diagnostics/event_sink.h"
#include "tests/test_paths.h"

namespace diagnostics {
class EventLogger;
}  // namespace diagnostics

namespace platform {
class Registry;
}

class RecordedEvents : public diagnostics::EventSink {
 public:
  // `registry` answers the AGENT field of event 7003 (null: the system's).
  explicit RecordedEvents(platform::Registry* registry = nullptr);
  ~RecordedEvents() override;
  RecordedEvents(const RecordedEvents&) = delete;
  RecordedEvents& operator=(const RecordedEvents&) = delete;

  // Posted after Ids or LogText: not recorded.
  void Post(diagnostics::EventId id) override;
  diagnostics::EventLogger& logger() { return *logger_; }

  // Ends the logger (no further events are recorded) and returns the ids of
  // the logged records in order; kUnreadableRecord for a line that is none.
  std::vector<int> Ids();
  static constexpr int kUnreadableRecord = -1000000;
  // Ends the logger and returns the log file's text.
  std::string LogText();

 private:
  void Finish();

  test_paths::ScratchFolder folder_;
  std::unique_ptr<diagnostics::EventLogger> logger_;
  bool finished_ = false;
};
