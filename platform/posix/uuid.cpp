#include "platform/uuid.h"

#include <cstdio>

#include "platform/files.h"

namespace platform {

std::string NewUuidText() {
  unsigned char bytes[16];
  UniqueFile source(std::fopen("/dev/urandom", "rb"));
  if (!source || std::fread(bytes, 1, sizeof(bytes), source.get()) != sizeof(bytes)) {
    return std::string();
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  char text[37];
  std::snprintf(text, sizeof(text),
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return text;
}

}  // namespace platform
