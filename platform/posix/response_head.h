// A response head as libcurl hands it over, one header line at a time. The
// downloads and bootpack's address checks both read it this way; a redirect
// chain gives one head per answer, each starting afresh at its status line.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

struct ResponseHead {
  int status = 0;
  bool has_length = false;
  std::string length;  // the Content-Length as sent, trimmed
  std::string content_type;
  bool has_location = false;
  bool complete = false;  // its blank line has come

  // A redirect libcurl is about to follow, or an interim answer, is not the
  // response the caller asked about.
  bool IsRedirect() const { return status >= 300 && status < 400 && has_location; }
  bool IsFinal() const { return status >= 200 && !IsRedirect(); }
};

// Takes one header line (with its CR LF) into `head`; a status line starts a
// new head. True when the line was the blank one that ends the head.
bool TakeHeaderLine(const char* line, size_t size, ResponseHead* head);

}  // namespace platform
