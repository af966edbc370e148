#include "diagnostics/report_sender.h"

#include <cstdio>
#include <memory>
#include <string>

#include "diagnostics/event_logger.h"
#include "diagnostics/event_record.h"
#include "platform/clock.h"
#include "platform/http.h"

namespace {

enum CommandKind { kTimeout = 0, kMessage = 1, kStartReporting = 2, kFinish = 3 };

}  // namespace

void ReportSender::ThreadMain(void* logger) { Run(*static_cast<EventLogger*>(logger)); }

void ReportSender::WriteRecord(EventLogger& logger, const std::string& record) {
  // A failed write is not worth losing the report for: it still goes out.
  std::FILE* file = logger.log_file_.get();
  std::fputs(record.c_str(), file);
  std::fputc('\n', file);
  std::fflush(file);
  logger.reports_.push_back(record);
}

bool ReportSender::CommandWaiting(EventLogger& logger) {
  platform::LockGuard guard(logger.lock_);
  return !logger.commands_.empty();
}

bool ReportSender::FinishAsked(EventLogger& logger, uint32_t* tick) {
  platform::LockGuard guard(logger.lock_);
  *tick = logger.finish_tick_;
  return logger.finish_asked_;
}

std::unique_ptr<LoggerCommand> ReportSender::TakeCommand(EventLogger& logger) {
  platform::LockGuard guard(logger.lock_);
  if (logger.commands_.empty()) return nullptr;
  std::unique_ptr<LoggerCommand> command = std::move(logger.commands_.front());
  logger.commands_.pop_front();
  return command;
}

void ReportSender::Run(EventLogger& logger) {
  const EventLoggerOptions& options = logger.options_;
  bool done = false;
  bool draining = false;  // finishing with records still undelivered
  uint32_t drain_start = 0;
  while (!done) {
    uint32_t wait = options.idle_wait_ms;
    if (draining) {
      // The last try comes at the drain limit, not up to an idle wait after it.
      // Unsigned difference: a wrap of the tick counter does no harm.
      const uint32_t elapsed = platform::TickCount() - drain_start;
      const uint32_t left = elapsed < options.drain_limit_ms ? options.drain_limit_ms - elapsed : 0;
      if (left < wait) wait = left;
    }
    // A queued command is taken before any wait, with its count when it has
    // one: a command queued beyond the count's limit is handled all the same.
    std::unique_ptr<LoggerCommand> command = TakeCommand(logger);
    if (command) {
      logger.command_count_.Wait(0);
    } else if (logger.command_count_.Wait(wait)) {
      command = TakeCommand(logger);
    }
    // An idle wake-up retries what is waiting, once reporting is on.
    int kind = command ? command->Kind() : (logger.reporting_enabled_ ? kStartReporting : kTimeout);

    if (draining && platform::TickCount() - drain_start >= options.drain_limit_ms) {
      done = true;  // this cycle is still handled in full
    }

    // A silent server may keep a pass for the report time-outs: commands
    // already waiting are handled first, so their records reach the file
    // without waiting for the network, and one pass sends them all.
    switch (kind) {
      case kMessage:
        WriteRecord(logger, static_cast<MessageCommand*>(command.get())->record());
        if (logger.reporting_enabled_ && !CommandWaiting(logger)) {
          SendPendingReports(logger);
        }
        break;
      case kStartReporting:
        if (command) logger.reporting_enabled_ = 1;
        if (!CommandWaiting(logger)) SendPendingReports(logger);
        if (draining && logger.reports_.empty()) done = true;
        break;
      case kFinish:
        if (!logger.reporting_enabled_) {
          done = true;  // the user never got as far as the progress window: nothing is sent
          break;
        }
        // The drain counts from the Finish call, so the pass the finish
        // command waited for and its own pass are part of the limit.
        if (!draining) {
          draining = true;
          FinishAsked(logger, &drain_start);
        }
        SendPendingReports(logger);
        if (logger.reports_.empty()) done = true;
        break;
      default:
        break;
    }
    // A pass that ran past the drain limit was the last try: another would
    // hold the exit for one more attempt.
    if (draining && platform::TickCount() - drain_start >= options.drain_limit_ms) done = true;
  }
  logger.done_.Set();
}

void ReportSender::SendPendingReports(EventLogger& logger) {
  std::string host;
  {
    platform::LockGuard guard(logger.lock_);
    host = logger.log_server_;
  }
  if (logger.reports_.empty() || host.empty()) return;

  std::unique_ptr<platform::HttpSession> session = platform::HttpSession::Open(kReportUserAgent);
  if (!session) return;
  std::unique_ptr<platform::HttpConnection> connection = platform::HttpConnection::Connect(
      *session, host, logger.options_.log_server_port, logger.options_.report_timeout_ms);
  if (!connection) return;

  std::string failed;
  bool has_failed = false;
  bool sent_one = false;
  while (!logger.reports_.empty() && !has_failed) {
    // A server that answers each report just within the time-outs would
    // otherwise hold the exit for all of them.
    uint32_t finish_tick = 0;
    if (sent_one && FinishAsked(logger, &finish_tick) &&
        platform::TickCount() - finish_tick >= logger.options_.drain_limit_ms) {
      break;
    }
    sent_one = true;
    std::string record = std::move(logger.reports_.front());
    logger.reports_.pop_front();
    if (!connection->SendGet(FormatReportTarget(logger.run_id_, record))) {
      failed = std::move(record);
      has_failed = true;
    }
  }
  // The connection goes before its session.
  connection.reset();
  session.reset();
  // Behind the records still waiting, so one bad record does not hold up the rest.
  if (has_failed) logger.reports_.push_back(std::move(failed));
}
