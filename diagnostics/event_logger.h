// The event log: records are built in the posting thread and handed to the
// logger's sender thread, which writes them to "TorvaneLogFile.txt" and, once
// reporting is on, sends each to the log server (diagnostics/report_sender).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "diagnostics/report_sender.h"
#include "platform/registry.h"
#include "platform/sync.h"

namespace diagnostics {

// The product uses the defaults; tests shorten the waits, pick the port and
// hand in a registry of their own.
struct EventLoggerOptions : ReportSenderOptions {
  // Where the AGENT field is read; the run's registry. Null: one that holds nothing.
  platform::Registry* registry = nullptr;
};

// Feeds its sender (diagnostics/report_sender) from a command queue that any
// thread may add to.
class EventLogger final : public EventSink, public SenderFeed {
 public:
  // Creates or empties directory\TorvaneLogFile.txt, writes the banner and
  // starts the sender thread. Throws StartupError with the text
  // "Error: Could not open the log file" when the file cannot be opened.
  explicit EventLogger(const std::string& directory,
                       const EventLoggerOptions& options = EventLoggerOptions());
  // Only tests destroy a logger (finishing it first); the product's lives until exit.
  ~EventLogger();
  EventLogger(const EventLogger&) = delete;
  EventLogger& operator=(const EventLogger&) = delete;

  void Post(EventId id) override;
  // Queues the record of event 3021 with the WATERMARK `value`.
  void ReportWatermark(const std::string& value);
  void Enqueue(const std::string& record);
  void StartReporting();
  // Queues the finish command and waits until the sender thread has ended:
  // at most the attempt in progress, the drain limit and one last attempt.
  // Call it from one thread; later calls return at once.
  void Finish();
  void SetLogServer(const std::string& host);
  // The run's UUID text; fixed before the sender starts, so no lock.
  std::string RunId() const { return run_id_; }
  const std::string& log_path() const { return log_path_; }
  platform::Registry& registry() const { return *registry_; }

 private:
  static void SenderThread(void* logger);
  void Push(LoggerCommand command);
  // What the sender asks, on its thread.
  std::deque<LoggerCommand> TakeCommands(uint32_t wait_ms) override;
  bool CommandWaiting() override;
  std::string LogServer() override;
  std::optional<uint32_t> FinishTick() override;

  std::unique_ptr<platform::Registry> no_values_;  // the registry of a logger given none
  platform::Registry* registry_;                   // read-only after construction
  std::string log_path_;                           // read-only after construction
  std::string run_id_;                             // written before the sender starts
  std::deque<LoggerCommand> commands_;             // under lock_
  platform::Lock lock_;                            // commands_, log_server_ and finish_tick_
  platform::Event command_queued_{false, false};   // set by a push into an empty queue
  std::string log_server_;                         // under lock_
  // When Finish queued its command: the drain counts from there, however
  // long a pass in progress keeps the sender from seeing it.
  std::optional<uint32_t> finish_tick_;              // under lock_
  platform::Event done_{false, false};               // set by the sender thread as its last act
  std::unique_ptr<ReportSender> sender_;             // made before its thread starts, then its own
  std::unique_ptr<platform::Thread> sender_thread_;  // the constructor, then Finish's thread
  bool finished_ = false;                            // the thread that calls Finish only
};

// The line of event `id`'s record as posted now (diagnostics/event_record.h):
// its description, the current time and, for 7003 only, the AGENT.
std::string BuildEventRecord(EventId id, platform::Registry& registry);
// HKCU\SOFTWARE\Torvane RuntimeGuid, tried 6 times with 500 ms after each
// failure; "?" if never read.
std::string ReadAgentId(platform::Registry& registry);

}  // namespace diagnostics
