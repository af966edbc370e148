#include "platform/posix/curl_get.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

constexpr long kMostRedirects = 30;

bool StartsWith(const char* line, size_t size, const char* prefix) {
  const size_t length = std::strlen(prefix);
  return size >= length && strncasecmp(line, prefix, length) == 0;
}

std::string TrimmedValue(const char* line, size_t size, size_t name_length) {
  const std::string value(line + name_length, size - name_length);
  const size_t first = value.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return value.substr(first, value.find_last_not_of(" \t\r\n") - first + 1);
}

// The line holds nothing but its end. It is not NUL-terminated.
bool IsLineEnd(const char* line, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (line[i] != '\r' && line[i] != '\n') return false;
  }
  return true;
}

}  // namespace

void SetGetOptions(CURL* easy, const std::string& url, const std::string& user_agent,
                   uint32_t connect_timeout_ms) {
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_USERAGENT, user_agent.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMostRedirects);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect_timeout_ms));
}

bool TakeHeaderLine(const char* line, size_t size, ResponseHead* head) {
  if (StartsWith(line, size, "HTTP/")) {
    *head = ResponseHead();
    const std::string status_line(line, size);
    const size_t blank = status_line.find(' ');
    if (blank != std::string::npos) head->status = std::atoi(status_line.c_str() + blank + 1);
  } else if (StartsWith(line, size, "Content-Length:")) {
    head->has_length = true;
    head->length = TrimmedValue(line, size, 15);
  } else if (StartsWith(line, size, "Content-Type:")) {
    head->content_type = TrimmedValue(line, size, 13);
  } else if (StartsWith(line, size, "ETag:")) {
    head->etag = TrimmedValue(line, size, 5);
  } else if (StartsWith(line, size, "Last-Modified:")) {
    head->last_modified = TrimmedValue(line, size, 14);
  } else if (StartsWith(line, size, "Content-Range:")) {
    head->content_range = TrimmedValue(line, size, 14);
  } else if (StartsWith(line, size, "Location:")) {
    head->location = TrimmedValue(line, size, 9);
    head->has_location = !head->location.empty();
  } else if (IsLineEnd(line, size)) {
    head->complete = true;
    return true;
  }
  return false;
}

}  // namespace platform
