// How the host's downloads ask libcurl for a file and read the answer's
// head; bootpack's address checks ask and read the same way.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A GET of `url` as the bootstrapper's client makes it: web addresses only
// (a "file:" address must not read local files), redirects followed as the
// Windows build follows them (at most 30), and the connection awaited for
// `connect_timeout_ms`.
void SetGetOptions(CURL* easy, const std::string& url, const std::string& user_agent,
                   uint32_t connect_timeout_ms);

// One answer's head. A redirect chain gives one per answer, each starting
// afresh at its status line.
struct ResponseHead {
  int status = 0;
  bool has_length = false;
  std::string length;  // the Content-Length as sent, trimmed
  std::string content_type;
  std::string etag;
  std::string last_modified;
  std::string content_range;
  bool has_location = false;
  std::string location;   // trimmed
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
