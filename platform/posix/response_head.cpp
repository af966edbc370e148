#include "platform/posix/response_head.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

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

}  // namespace

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
  } else if (StartsWith(line, size, "Location:")) {
    head->has_location = !TrimmedValue(line, size, 9).empty();
  } else if (std::strspn(line, "\r\n") == size) {
    head->complete = true;
    return true;
  }
  return false;
}

}  // namespace platform
