#include "tests/recorded_events.h"

#include <cstdlib>

#include "diagnostics/event_logger.h"

namespace {

EventLoggerOptions WithRegistry(platform::Registry* registry) {
  EventLoggerOptions options;
  options.registry = registry;
  return options;
}

}  // namespace

RecordedEvents::RecordedEvents(platform::Registry* registry)
    : logger_(new EventLogger(folder_.path(), WithRegistry(registry))) {
  SetGlobalEventLogger(logger_.get());
}

RecordedEvents::~RecordedEvents() {
  Finish();
  logger_.reset();
}

void RecordedEvents::Finish() {
  if (finished_) return;
  finished_ = true;
  SetGlobalEventLogger(nullptr);
  logger_->Finish();
}

std::string RecordedEvents::LogText() {
  Finish();
  std::string text;
  test_paths::ReadWholeFile(logger_->log_path(), &text);
  return text;
}

std::vector<int> RecordedEvents::Ids() {
  const std::string text = LogText();
  const std::string field = "EVENTID='";
  std::vector<int> ids;
  for (size_t pos = text.find(field); pos != std::string::npos; pos = text.find(field, pos + 1)) {
    ids.push_back(std::atoi(text.c_str() + pos + field.size()));
  }
  return ids;
}
