#include "platform/http.h"

namespace platform {

std::string EscapeRequestTarget(const std::string& object_name) {
  std::string result;
  for (char c : object_name) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F) {
      const char* hex = "0123456789ABCDEF";
      result += '%';
      result += hex[byte >> 4];
      result += hex[byte & 0xF];
    } else {
      result += c;
    }
  }
  return result;
}

}  // namespace platform
