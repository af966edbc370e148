#include "platform/ascii.h"
#include "platform/http.h"

namespace platform {

bool IsPlainRequestTarget(const std::string& object_name) {
  for (char c : object_name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F) return false;
  }
  return true;
}

bool IsFollowableLocation(const std::string& location) {
  if (location.empty() || !IsPlainRequestTarget(location)) return false;
  // A scheme is letters, digits, "+", "-" and "." before the first ":", with
  // no "/", "?" or "#" in front of it; without one the address is relative.
  const size_t end = location.find_first_of(":/?#");
  if (end == std::string::npos || location[end] != ':') return true;
  const std::string scheme = AsciiLower(location.substr(0, end));
  return scheme == "http" || scheme == "https";
}

bool IsPlainHeaderValue(const std::string& value) {
  for (char c : value) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
  }
  return !value.empty();
}

std::vector<std::string> RangeHeaderLines(const HttpRange& range) {
  std::vector<std::string> lines;
  // A Range without its If-Range could piece two versions of the file together.
  if (range.from == 0 || !IsPlainHeaderValue(range.validator)) return lines;
  lines.push_back("Range: bytes=" + std::to_string(range.from) + "-");
  lines.push_back("If-Range: " + range.validator);
  return lines;
}

}  // namespace platform
