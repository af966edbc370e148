// Reads a bootstrapper's event report back from its HTTP request: the request
// line in either of the forms that reach a log server. The record itself is
// read by the product's own grammar (diagnostics/event_record.h).
#pragma once

#include <cstdint>
#include <string>

#include "diagnostics/event_record.h"

namespace collector {

// One event report as it arrived: what the bootstrapper sent and what the
// server saw of it.
struct ReportRecord : diagnostics::EventRecord {
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

}  // namespace collector
