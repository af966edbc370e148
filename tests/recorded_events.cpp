#include "tests/recorded_events.h"

#include <optional>

#include "diagnostics/event_logger.h"
#include "diagnostics/event_record.h"
#include "platform/registry.h"
#include "tests/event_log_reader.h"

namespace {

diagnostics::EventLoggerOptions WithRegistry(platform::Registry* registry) {
  diagnostics::EventLoggerOptions options;
  options.registry = registry ? registry : &platform::SystemRegistry();
  return options;
}

}  // namespace

RecordedEvents::RecordedEvents(platform::Registry* registry)
    : logger_(new diagnostics::EventLogger(folder_.path(), WithRegistry(registry))) {}

void RecordedEvents::Post(diagnostics::EventId id) {
  if (!finished_) logger_->Post(id);
}

RecordedEvents::~RecordedEvents() {
  Finish();
  logger_.reset();
}

void RecordedEvents::Finish() {
  if (finished_) return;
  finished_ = true;
  logger_->Finish();
}

std::string RecordedEvents::LogText() {
  Finish();
  std::string text;
  test_paths::ReadWholeFile(logger_->log_path(), &text);
  return text;
}

std::vector<int> RecordedEvents::Ids() {
  Finish();
  std::vector<std::string> lines;
  testing_logs::ReadLogLines(logger_->log_path(), &lines);
  std::vector<int> ids;
  for (const std::string& line : lines) {
    const std::optional<diagnostics::EventRecord> record = diagnostics::ParseEventRecord(line);
    ids.push_back(record ? record->event_id : kUnreadableRecord);
  }
  return ids;
}
