// The logger's sender thread: writes each record to the log file and, once
// reporting is on, sends it to the log server as one GET on port 80.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class EventLogger;
class LoggerCommand;

class ReportSender {
 public:
  // The thread entry; `logger` is the EventLogger. Sets the logger's done
  // event as its last act.
  static void ThreadMain(void* logger);

  // One delivery pass over one connection: sends the report queue front to
  // back and stops at the first failure, which goes to the back of the queue.
  // While `draining`, it also stops between two requests once the drain
  // limit, counted from `drain_start`, has passed.
  static void SendPendingReports(EventLogger& logger, bool draining = false,
                                 uint32_t drain_start = 0);

 private:
  static void Run(EventLogger& logger);
  static bool CommandWaiting(EventLogger& logger);
  // The first queued command, or null.
  static std::unique_ptr<LoggerCommand> TakeCommand(EventLogger& logger);
  static void WriteRecord(EventLogger& logger, const std::string& record);
};
