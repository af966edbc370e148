#include <cstdio>

#include "platform/http.h"

namespace platform {

std::string EscapeRequestTarget(const std::string& object_name) {
  std::string result;
  for (char c : object_name) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F) {
      char escaped[4];
      std::snprintf(escaped, sizeof(escaped), "%%%02X", byte);
      result += escaped;
    } else {
      result += c;
    }
  }
  return result;
}

}  // namespace platform
