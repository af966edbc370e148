#include "diagnostics/report_sender.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "diagnostics/event_record.h"
#include "platform/clock.h"
#include "platform/http.h"

namespace diagnostics {

ReportSender::ReportSender(SenderFeed& feed, const ReportSenderOptions& options, std::string run_id,
                           platform::UniqueFile log_file)
    : feed_(feed), options_(options), run_id_(std::move(run_id)), log_file_(std::move(log_file)) {}

void ReportSender::Run() {
  bool done = false;
  while (!done) {
    uint32_t wait = options_.idle_wait_ms;
    if (draining_) {
      // The last try comes at the drain limit, not up to an idle wait after it.
      // Unsigned difference: a wrap of the tick counter does no harm.
      const uint32_t elapsed = platform::TickCount() - drain_start_;
      const uint32_t left =
          elapsed < options_.drain_limit_ms ? options_.drain_limit_ms - elapsed : 0;
      if (left < wait) wait = left;
    }
    std::deque<LoggerCommand> batch = feed_.TakeCommands(wait);
    if (DrainOver()) done = true;  // this cycle is still handled in full
    // A silent server may keep a pass for the report time-outs: every command
    // waiting is taken at once, so their records reach the file without
    // waiting for the network, and one pass sends them all.
    if (Handle(batch)) done = true;
    // A pass that ran past the drain limit was the last try: another would
    // hold the exit for one more attempt.
    if (DrainOver()) done = true;
  }
}

bool ReportSender::Handle(std::deque<LoggerCommand>& batch) {
  // An idle wake-up retries what is waiting, once reporting is on.
  if (batch.empty()) return reporting_ && Retry(feed_.CommandWaiting());
  // Records go to the file together, ahead of any command after them and of
  // any report attempt.
  std::string lines;
  for (size_t i = 0; i < batch.size(); ++i) {
    LoggerCommand& command = batch[i];
    if (command.kind == LoggerCommand::Kind::kMessage) {
      lines += command.record;
      lines += '\n';
      reports_.push_back(std::move(command.record));
      continue;
    }
    WriteLines(&lines);
    bool done;
    if (command.kind == LoggerCommand::Kind::kFinish) {
      done = HandleFinish();
    } else {
      reporting_ = true;
      done = Retry(i + 1 < batch.size() || feed_.CommandWaiting());
    }
    if (done) return true;
  }
  WriteLines(&lines);
  if (reporting_ && batch.back().kind == LoggerCommand::Kind::kMessage && !feed_.CommandWaiting()) {
    SendPendingReports();
  }
  return false;
}

bool ReportSender::HandleFinish() {
  // The user never got as far as the progress window: nothing is sent.
  if (!reporting_) return true;
  // The drain counts from the Finish call, so the pass the finish command
  // waited for and its own pass are part of the limit.
  if (!draining_) {
    draining_ = true;
    drain_start_ = feed_.FinishTick().value_or(0);
  }
  SendPendingReports();
  return reports_.empty();
}

bool ReportSender::Retry(bool commands_wait) {
  if (!commands_wait) SendPendingReports();
  return draining_ && reports_.empty();
}

bool ReportSender::DrainOver() const {
  return draining_ && platform::TickCount() - drain_start_ >= options_.drain_limit_ms;
}

void ReportSender::WriteLines(std::string* lines) {
  if (lines->empty()) return;
  // A failed write is not worth losing the reports for: they still go out.
  std::FILE* file = log_file_.get();
  std::fwrite(lines->data(), 1, lines->size(), file);
  std::fflush(file);
  lines->clear();
}

void ReportSender::SendPendingReports() {
  const std::string host = feed_.LogServer();
  if (reports_.empty() || host.empty()) return;

  std::unique_ptr<platform::HttpSession> session = platform::HttpSession::Open(kReportUserAgent);
  if (!session) return;
  std::unique_ptr<platform::HttpConnection> connection = platform::HttpConnection::Connect(
      *session, host, options_.log_server_port, options_.report_timeout_ms);
  if (!connection) return;

  std::string failed;
  bool has_failed = false;
  bool sent_one = false;
  while (!reports_.empty() && !has_failed) {
    // A server that answers each report just within the time-outs would
    // otherwise hold the exit for all of them.
    const std::optional<uint32_t> finish_tick = sent_one ? feed_.FinishTick() : std::nullopt;
    if (finish_tick && platform::TickCount() - *finish_tick >= options_.drain_limit_ms) break;
    sent_one = true;
    std::string record = std::move(reports_.front());
    reports_.pop_front();
    if (!connection->SendGet(FormatReportTarget(run_id_, record))) {
      failed = std::move(record);
      has_failed = true;
    }
  }
  // The connection goes before its session.
  connection.reset();
  session.reset();
  // Behind the records still waiting, so one bad record does not hold up the rest.
  if (has_failed) reports_.push_back(std::move(failed));
}

}  // namespace diagnostics
