// The logger's sender: on the logger's one sender thread it takes the
// logger's commands, writes each record to the log file and, once reporting
// is on, sends it to the log server as one GET on port 80.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "platform/files.h"

namespace diagnostics {

// The user agent of every report request.
constexpr char kReportUserAgent[] = "TORVANE_NETWORKS_WF";

// One item of the logger's command queue: made by the posting thread, moved
// to the sender thread when taken.
struct LoggerCommand {
  enum class Kind { kMessage, kStartReporting, kFinish };
  Kind kind = Kind::kMessage;
  std::string record;  // kMessage: the record's line
};

// What the sender needs of the logger that feeds it. Called on the sender
// thread; the logger guards what its other threads write.
class SenderFeed {
 public:
  // Every queued command, in order, waiting up to `wait_ms` for the first;
  // none when none came.
  virtual std::deque<LoggerCommand> TakeCommands(uint32_t wait_ms) = 0;
  virtual bool CommandWaiting() = 0;
  virtual std::string LogServer() = 0;
  // The tick at which Finish was called; nothing before.
  virtual std::optional<uint32_t> FinishTick() = 0;

 protected:
  ~SenderFeed() = default;
};

// The product uses the defaults; tests shorten the waits and pick the port.
struct ReportSenderOptions {
  uint32_t idle_wait_ms = 15000;    // the sender's wait for a command
  uint32_t drain_limit_ms = 60000;  // how long undelivered records are retried at exit
  int log_server_port = 80;
  // The deadline of one report's whole exchange: a server that never answers,
  // or sends its answer a line at a time, holds a pass (and the exit) no longer.
  uint32_t report_timeout_ms = 5000;
};

class ReportSender {
 public:
  // `feed` outlives the sender; `log_file` is open, its banner written.
  ReportSender(SenderFeed& feed, const ReportSenderOptions& options, std::string run_id,
               platform::UniqueFile log_file);
  ReportSender(const ReportSender&) = delete;
  ReportSender& operator=(const ReportSender&) = delete;

  // The sender thread's loop: returns once the finish command has been
  // handled and the drain is over.
  void Run();

 private:
  // Handles one wake-up: the commands taken, or none when the wait ran out.
  // True when the sender is done.
  bool Handle(std::deque<LoggerCommand>& batch);
  bool HandleFinish();
  // A pass unless commands wait (theirs comes after them); true when it
  // emptied the queue of a drain.
  bool Retry(bool commands_wait);
  // The records gathered in `lines` into the file, one write and one flush.
  void WriteLines(std::string* lines);
  bool DrainOver() const;
  // One delivery pass over one connection: sends the report queue front to
  // back and stops at the first failure, which goes to the back of the queue.
  // Once the drain limit has passed since Finish, it stops after one request.
  void SendPendingReports();

  SenderFeed& feed_;                   // set at construction
  const ReportSenderOptions options_;  // read-only
  const std::string run_id_;           // read-only
  // Everything below: the sender thread only.
  platform::UniqueFile log_file_;
  std::deque<std::string> reports_;  // written to the file, not yet delivered
  bool reporting_ = false;           // the first start-reporting command was handled
  bool draining_ = false;            // finishing with records still undelivered
  uint32_t drain_start_ = 0;         // the Finish call's tick, once draining
};

}  // namespace diagnostics
