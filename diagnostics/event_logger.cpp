#include "diagnostics/event_logger.h"

#include <atomic>
#include <cstdio>
#include <utility>

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_record.h"
#include "diagnostics/startup_error.h"
#include "platform/uuid.h"

namespace diagnostics {

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

// What a logger without a registry asks for the AGENT field: nothing is there.
class NoValues : public platform::Registry {
 public:
  bool ReadValue(platform::RegistryRoot, const std::string&, const std::string&, size_t,
                 std::string*) override {
    return false;
  }
};

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
    : no_values_(options.registry ? nullptr : new NoValues),
      registry_(options.registry ? options.registry : no_values_.get()),
      log_path_(platform::JoinPath(directory, "TorvaneLogFile.txt")),
      log_server_(kPlaceholderLogServer) {
  // Text mode: line breaks become CR LF on Windows. Earlier runs are not kept.
  platform::UniqueFile log_file = platform::OpenFile(log_path_, "w");
  if (!log_file) throw StartupError("Error: Could not open the log file");
  std::fputs(kBanner, log_file.get());
  std::fflush(log_file.get());
  run_id_ = platform::NewUuidText();
  sender_.reset(new ReportSender(*this, options, run_id_, std::move(log_file)));
  sender_thread_.reset(new platform::Thread(&EventLogger::SenderThread, this));
}

EventLogger::~EventLogger() {
  Finish();
  if (sender_thread_ && sender_thread_->started()) sender_thread_->Join();
}

void EventLogger::SenderThread(void* logger) {
  EventLogger& self = *static_cast<EventLogger*>(logger);
  self.sender_->Run();
  self.done_.Set();
}

void EventLogger::Push(LoggerCommand command) {
  bool first;
  {
    platform::LockGuard guard(lock_);
    first = commands_.empty();
    commands_.push_back(std::move(command));
  }
  // The sender waits only for an empty queue, and takes all of it at once:
  // the command that makes it non-empty is the one worth a wake.
  if (first) command_queued_.Set();
}

std::deque<LoggerCommand> EventLogger::TakeCommands(uint32_t wait_ms) {
  const uint32_t start = platform::TickCount();
  std::deque<LoggerCommand> batch;
  for (;;) {
    {
      platform::LockGuard guard(lock_);
      batch.swap(commands_);
    }
    if (!batch.empty()) return batch;
    // A wake for commands an earlier take already had finds none: wait on
    // for what is left of the time.
    const uint32_t elapsed = platform::TickCount() - start;  // unsigned: a wrap does no harm
    if (elapsed >= wait_ms || !command_queued_.Wait(wait_ms - elapsed)) return batch;
  }
}

bool EventLogger::CommandWaiting() {
  platform::LockGuard guard(lock_);
  return !commands_.empty();
}

std::string EventLogger::LogServer() {
  platform::LockGuard guard(lock_);
  return log_server_;
}

std::optional<uint32_t> EventLogger::FinishTick() {
  platform::LockGuard guard(lock_);
  return finish_tick_;
}

void EventLogger::Enqueue(const std::string& record) {
  Push({LoggerCommand::Kind::kMessage, record});
}

void EventLogger::StartReporting() { Push({LoggerCommand::Kind::kStartReporting, {}}); }

void EventLogger::Finish() {
  if (finished_) return;
  finished_ = true;
  // Without a sender nobody would ever set the done event.
  if (!sender_thread_ || !sender_thread_->started()) return;
  {
    platform::LockGuard guard(lock_);
    finish_tick_ = platform::TickCount();
  }
  Push({LoggerCommand::Kind::kFinish, {}});
  done_.Wait();
  // Setting the event was the sender's last act: it ends at once.
  sender_thread_->Join();
  sender_thread_.reset();
}

void EventLogger::SetLogServer(const std::string& host) {
  platform::LockGuard guard(lock_);
  log_server_ = host;
}

void EventLogger::Post(EventId id) {
  if (id == kStartReportingCommand) {
    StartReporting();
    return;
  }
  Enqueue(BuildEventRecord(id, *registry_));
}

void EventLogger::ReportWatermark(const std::string& value) {
  EventRecord record = NewEventRecord(kWatermarkReported, *registry_);
  record.watermark = value;
  Enqueue(FormatEventRecord(record));
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

}  // namespace diagnostics
