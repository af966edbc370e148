#include "platform/http.h"

namespace platform {

bool IsPlainRequestTarget(const std::string& object_name) {
  for (char c : object_name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F) return false;
  }
  return true;
}

}  // namespace platform
