// The logger's sender thread: writes each record to the log file and, once
// reporting is on, sends it to the log server as one GET on port 80.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class EventLogger;
class LoggerCommand;

// The user agent of every report request.
constexpr char kReportUserAgent[] = "TORVANE_NETWORKS_WF";

class ReportSender {
 public:
  // The thread entry; `logger` is the EventLogger. Sets the logger's done
  // event as its last act.
  static void ThreadMain(void* logger);

  // One delivery pass over one connection: sends the report queue front to
  // back and stops at the first failure, which goes to the back of the queue.
  // Once the drain limit has passed since Finish, it stops after one request.
  static void SendPendingReports(EventLogger& logger);

 private:
  static void Run(EventLogger& logger);
  static bool CommandWaiting(EventLogger& logger);
  // Whether Finish has been called, and when.
  static bool FinishAsked(EventLogger& logger, uint32_t* tick);
  // The first queued command, or null.
  static std::unique_ptr<LoggerCommand> TakeCommand(EventLogger& logger);
  static void WriteRecord(EventLogger& logger, const std::string& record);
};
