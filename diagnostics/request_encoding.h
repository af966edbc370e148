// Makes a report's object name safe to put on an HTTP request line.
#pragma once

#include <string>

// Percent-encodes (%HH, upper-case hex) the bytes that may not stand in a
// request target: controls (CR and LF among them), space, '"', '#', '%', '<',
// '>', '\\', '^', '`', '{', '|', '}', DEL and every byte from 0x80. All other
// bytes, the record's apostrophes, commas and '=' included, pass unchanged.
std::string EncodeRequestTarget(const std::string& text);
