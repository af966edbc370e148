// The event record: the line the logger writes to its file and, after the
// run's token, the request target of the report that carries it to the log
// server. One grammar for every writer and reader: fields NAME='value' joined
// by commas, TOKEN first in a report, then AGENT (7003) or WATERMARK (3021),
// EVENTID, DESC and TIMESTAMP. Values go in verbatim: an apostrophe is not
// escaped, so the description runs to the last ',TIMESTAMP=' of a record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "diagnostics/event_catalog.h"
#include "platform/clock.h"

namespace diagnostics {

struct EventRecord {
  std::string token;                     // a report's: the run's UUID text
  std::optional<std::string> agent;      // 7003: the agent's id
  std::optional<std::string> watermark;  // 3021: the build's watermark
  EventId event_id = 0;
  std::string description;
  std::string timestamp;  // "YYYY-MM-DD hh:mm:ss.mmm", the sender's UTC clock
};
bool operator==(const EventRecord& a, const EventRecord& b);

// The record's line, without the token. A value ends at its first NUL, as a
// C string does. Set at most one of agent and watermark.
std::string FormatEventRecord(const EventRecord& record);
// A report's request target: "?TOKEN='token'," and the line, percent-encoded.
std::string FormatReportTarget(const std::string& token, const std::string& record_line);

// The reader (event_record_reader.cpp, which the stub never links).
// The record of a line, or nothing when it is none (a NUL anywhere makes it
// none). The token is left empty.
std::optional<EventRecord> ParseEventRecord(const std::string& line);
// The report of a request target as it arrived (percent-encoded, with or
// without the leading '/'), or nothing when it is not a report.
std::optional<EventRecord> ParseReportTarget(const std::string& target);

// "YYYY-MM-DD hh:mm:ss.mmm" of the current UTC time (of `time` for the overload).
std::string FormatTimestamp();
std::string FormatTimestamp(const platform::UtcTime& time);
// Milliseconds since 1970 of such a text, or nothing when the text has
// another shape or names no real moment.
std::optional<int64_t> TimestampMs(const std::string& timestamp);

}  // namespace diagnostics
