// The event log: records are built in the posting thread and handed to the
// logger's sender thread, which writes them to "TorvaneLogFile.txt" and, once
// reporting is on, sends each to the log server (diagnostics/report_sender).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "diagnostics/event_catalog.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/sync.h"

// Items of the command queue: made by the posting thread, owned by the queue,
// destroyed by the sender thread once handled.
class LoggerCommand {
 public:
  virtual ~LoggerCommand() = default;
  virtual int Kind() const = 0;
};

class MessageCommand : public LoggerCommand {
 public:
  explicit MessageCommand(std::string record) : record_(std::move(record)) {}
  int Kind() const override { return 1; }
  const std::string& record() const { return record_; }

 private:
  std::string record_;
};

class StartReportingCommand : public LoggerCommand {
 public:
  int Kind() const override { return 2; }
};

class FinishCommand : public LoggerCommand {
 public:
  int Kind() const override { return 3; }
};

// The product uses the defaults; tests shorten the waits, pick the port and
// hand in a registry of their own.
struct EventLoggerOptions {
  uint32_t idle_wait_ms = 15000;    // the sender's wait for a command
  uint32_t drain_limit_ms = 60000;  // how long undelivered records are retried at exit
  int log_server_port = 80;
  // The deadline of one report's whole exchange: a server that never answers,
  // or sends its answer a line at a time, holds a pass (and the exit) no longer.
  uint32_t report_timeout_ms = 5000;
  platform::Registry* registry = nullptr;  // for the AGENT field; null: the system's
  // The most wake-ups the queue counts at once; commands beyond it are still
  // handled, in order, only not counted.
  long queue_count_limit = 0x100000;
};

class EventLogger {
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
  friend class ReportSender;
  void Push(LoggerCommand* command);

  EventLoggerOptions options_;                           // read-only after construction
  platform::Registry* registry_;                         // read-only after construction
  platform::UniqueFile log_file_;                        // sender thread only
  std::string log_path_;                                 // read-only after construction
  std::deque<std::unique_ptr<LoggerCommand>> commands_;  // under lock_
  std::deque<std::string> reports_;                      // sender thread only
  platform::Lock lock_;                                  // commands_ and log_server_
  platform::Event done_{false, false};                   // set by the sender as its last act
  platform::Semaphore command_count_;  // a release per queued command, to the limit
  std::string log_server_;             // under lock_
  // When Finish queued its command: the drain counts from there, however
  // long a pass in progress keeps the sender from seeing it.
  bool finish_asked_ = false;  // under lock_
  uint32_t finish_tick_ = 0;   // under lock_
  std::string run_id_;         // written before the sender starts
  int reporting_enabled_ = 0;  // sender thread only
  std::unique_ptr<platform::Thread> sender_;
  bool finished_ = false;  // the thread that calls Finish only
};

// The process-wide logger that PostEvent and friends use; null until start-up
// has made one (then they do nothing).
void SetGlobalEventLogger(EventLogger* logger);
EventLogger* GlobalEventLogger();

// Builds the record in the calling thread and queues it; 9999 switches
// reporting on instead. Never waits for the file or the network (7003 may
// wait up to 3 s for the agent id).
void PostEvent(EventId id);
// Queues the record of event 3021 with the WATERMARK `value`.
void ReportWatermark(const std::string& value);

// The line of event `id`'s record as posted now (diagnostics/event_record.h):
// its description, the current time and, for 7003 only, the AGENT.
std::string BuildEventRecord(EventId id, platform::Registry& registry = platform::SystemRegistry());
// HKCU\SOFTWARE\Torvane RuntimeGuid, tried 6 times with 500 ms after each
// failure; "?" if never read.
std::string ReadAgentId(platform::Registry& registry = platform::SystemRegistry());
