#include "diagnostics/event_logger.h"

#include <atomic>
#include <cstdio>
#include <stdexcept>

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_record.h"
#include "diagnostics/report_sender.h"
#include "diagnostics/startup_error.h"
#include "platform/uuid.h"

namespace {

// Not a host name, so nothing can be delivered before the configuration names
// the log server: 38 characters in groups of 8, 4, 4, 4, 4, 4 and 4.
constexpr char kPlaceholderLogServer[] = "00000000-0000-0000-0000-0000-0000-0000";

constexpr bool HasGuidGroups(const char* text) {
  const int groups[] = {8, 4, 4, 4, 4, 4, 4};
  for (int group = 0; group < 7; ++group) {
    if (group > 0 && *text++ != '-') return false;
    for (int digit = 0; digit < groups[group]; ++digit, ++text) {
      bool hex = (*text >= '0' && *text <= '9') || (*text >= 'a' && *text <= 'f');
      if (!hex) return false;
    }
  }
  return *text == '\0';
}
static_assert(sizeof(kPlaceholderLogServer) == 38 + 1 && HasGuidGroups(kPlaceholderLogServer),
              "the placeholder is 38 characters in GUID-like groups");

constexpr char kBanner[] =
    "\n\n\n\n*****************TORVANE NETWORKS WAYFARER*****************\n\n";

std::atomic<EventLogger*> g_logger{nullptr};

// The record of event `id` as posted now.
EventRecord NewEventRecord(EventId id, platform::Registry& registry) {
  EventRecord record;
  // Only a successful launch names the agent that was installed.
  if (id == kAgentLaunched) record.agent = ReadAgentId(registry);
  record.event_id = id;
  record.description = EventCatalog::Describe(id);
  record.timestamp = FormatTimestamp();
  return record;
}

}  // namespace

EventLogger::EventLogger(const std::string& directory, const EventLoggerOptions& options)
    : options_(options),
      registry_(options.registry ? options.registry : &platform::SystemRegistry()),
      command_count_(0, options.queue_count_limit),
      log_server_(kPlaceholderLogServer) {
  log_path_ = platform::JoinPath(directory, "TorvaneLogFile.txt");
  // Text mode: line breaks become CR LF on Windows. Earlier runs are not kept.
  log_file_ = platform::OpenFile(log_path_, "w");
  if (!log_file_) throw StartupError("Error: Could not open the log file");
  std::fputs(kBanner, log_file_.get());
  std::fflush(log_file_.get());
  run_id_ = platform::NewUuidText();
  reporting_enabled_ = 0;
  sender_.reset(new platform::Thread(&ReportSender::ThreadMain, this));
}

EventLogger::~EventLogger() {
  Finish();
  if (sender_ && sender_->started()) sender_->Join();
  EventLogger* self = this;
  g_logger.compare_exchange_strong(self, nullptr);
}

void EventLogger::Push(LoggerCommand* command) {
  platform::LockGuard guard(lock_);
  commands_.emplace_back(command);
  command_count_.Release();
}

void EventLogger::Enqueue(const std::string& record) { Push(new MessageCommand(record)); }

void EventLogger::StartReporting() { Push(new StartReportingCommand); }

void EventLogger::Finish() {
  if (finished_) return;
  finished_ = true;
  // Without a sender nobody would ever set the done event.
  if (!sender_ || !sender_->started()) return;
  {
    platform::LockGuard guard(lock_);
    finish_asked_ = true;
    finish_tick_ = platform::TickCount();
  }
  Push(new FinishCommand);
  done_.Wait();
  // Setting the event was the sender's last act: it ends at once.
  sender_->Join();
  sender_.reset();
}

void EventLogger::SetLogServer(const std::string& host) {
  platform::LockGuard guard(lock_);
  log_server_ = host;
}

void SetGlobalEventLogger(EventLogger* logger) { g_logger.store(logger); }

EventLogger* GlobalEventLogger() { return g_logger.load(); }

void PostEvent(EventId id) {
  EventLogger* logger = GlobalEventLogger();
  if (!logger) return;
  if (id == kStartReportingCommand) {
    logger->StartReporting();
    return;
  }
  logger->Enqueue(BuildEventRecord(id, logger->registry()));
}

void ReportWatermark(const std::string& value) {
  EventLogger* logger = GlobalEventLogger();
  if (!logger) return;
  EventRecord record = NewEventRecord(kWatermarkReported, logger->registry());
  record.watermark = value;
  logger->Enqueue(FormatEventRecord(record));
}

std::string BuildEventRecord(EventId id, platform::Registry& registry) {
  return FormatEventRecord(NewEventRecord(id, registry));
}

std::string ReadAgentId(platform::Registry& registry) {
  // The agent's installer may still be writing the value when the launch is
  // reported, hence the retries.
  for (int attempt = 0; attempt < 6; ++attempt) {
    std::string bytes;
    if (registry.ReadValue(platform::RegistryRoot::kCurrentUser, "SOFTWARE\\Torvane", "RuntimeGuid",
                           37, &bytes)) {
      return bytes.substr(0, bytes.find('\0'));
    }
    platform::SleepMs(500);
  }
  return "?";
}
