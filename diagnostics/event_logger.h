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

struct EventLoggerOptions {
  uint32_t idle_wait_ms = 15000;   // the sender's wait for a command
  uint32_t drain_limit_ms = 60000; // how long undelivered records are retried at exit
  int log_server_port = 80;
};

class EventLogger {
 public:
  // Creates or empties D\TorvaneLogFile.txt, writes the banner and starts the
  // sender thread. Throws the text "Error: Could not open the log file".
  explicit EventLogger(const std::string& directory,
                       const EventLoggerOptions& options = EventLoggerOptions());
  ~EventLogger();  // only for tests: the product's logger lives until exit

  void Enqueue(const std::string& record);
  void StartReporting();
  // Queues the finish command and waits until the sender thread has ended.
  void Finish();
  void SetLogServer(const std::string& host);
  std::string RunId() const { return run_id_; }
  const std::string& log_path() const { return log_path_; }

 private:
  friend class ReportSender;
  void Push(LoggerCommand* command);

  EventLoggerOptions options_;
  platform::UniqueFile log_file_;                    // sender thread only
  std::string log_path_;
  std::deque<std::unique_ptr<LoggerCommand>> commands_;  // under lock_
  std::deque<std::string> reports_;                  // sender thread only
  platform::Lock lock_;                              // commands_ and log_server_
  platform::Event done_{false, false};               // set by the sender as its last act
  platform::Semaphore command_count_{0, 0x100000};   // one release per queued command
  std::string log_server_;                           // under lock_
  std::string run_id_;                               // written before the sender starts
  int reporting_enabled_ = 0;                        // sender thread only
  std::unique_ptr<platform::Thread> sender_;
  bool finished_ = false;
};

// The process-wide logger that PostEvent and friends use; null until start-up
// has made one (then they do nothing).
void SetGlobalEventLogger(EventLogger* logger);
EventLogger* GlobalEventLogger();

void PostEvent(EventId id);
void ReportWatermark(const std::string& value);

std::string BuildEventRecord(EventId id);
std::string FormatTimestamp();
// HKCU\SOFTWARE\Torvane RuntimeGuid, tried 6 times 500 ms apart; "?" if never read.
std::string ReadAgentId(platform::Registry& registry = platform::SystemRegistry());
