// Reads a bootstrapper's event report back from its HTTP request: the request
// line in either of the forms that reach a log server, and the record fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "diagnostics/event_catalog.h"

// One event report as it arrived: what the bootstrapper sent and what the
// server saw of it.
struct ReportRecord {
  std::string token;      // the run's UUID text
  std::string agent;      // event 7003 only
  std::string watermark;  // event 3021 only
  EventId event_id = 0;
  std::string description;
  std::string timestamp;    // "YYYY-MM-DD hh:mm:ss.mmm", the sender's UTC clock
  int64_t received_ms = 0;  // server clock, milliseconds since 1970
  std::string sender;       // the peer's address
};

// Gives a request line (without its CR LF) the percent-encoded form: older
// executables put the record on the line as it is, blanks and all, so a line
// with more than two blanks has its target between the first and the last
// blank, and that target is encoded. Every '?' after the first becomes %3F
// (an AGENT='?' would otherwise read as a second query). A line that is no
// "METHOD target HTTP/1.x" comes back unchanged.
std::string NormalizeRequestLine(const std::string& line);
// Whether a normalized line has the shape "METHOD target HTTP/x".
bool IsRequestLine(const std::string& line);

// The record of a decoded request target ("/?TOKEN='...',...,TIMESTAMP='...'"),
// or nothing when it is not a report (a NUL byte anywhere makes it none).
// Values are taken as sent: a description may hold apostrophes and commas,
// so it runs from DESC=' to the last ',TIMESTAMP='.
std::optional<ReportRecord> ParseReportTarget(const std::string& target);

// Milliseconds since 1970 of a "YYYY-MM-DD hh:mm:ss.mmm" UTC text, or nothing
// when the text has another shape or names no real moment.
std::optional<int64_t> TimestampMs(const std::string& timestamp);
