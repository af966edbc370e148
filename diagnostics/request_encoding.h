// Makes a report's object name safe to put on an HTTP request line, and reads
// it back on the log server's side.
#pragma once

#include <string>

namespace diagnostics {

// Percent-encodes (%HH, upper-case hex) the bytes that may not stand in a
// request target: controls (CR and LF among them), space, '"', '#', '%', '<',
// '>', '\\', '^', '`', '{', '|', '}', DEL and every byte from 0x80. All other
// bytes, the record's apostrophes, commas and '=' included, pass unchanged.
std::string EncodeRequestTarget(const std::string& text);

// The inverse of EncodeRequestTarget: each %HH (either case of hex digit)
// becomes its byte. A '%' that starts no such escape stays as it is, so a
// target from a sender that encoded nothing keeps its percent signs.
std::string DecodeRequestTarget(const std::string& target);

}  // namespace diagnostics
