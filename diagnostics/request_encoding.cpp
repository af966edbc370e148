#include "diagnostics/request_encoding.h"

namespace {

bool NeedsEncoding(unsigned char byte) {
  if (byte <= 0x20 || byte >= 0x7F) return true;  // controls, space, DEL, 8-bit
  switch (byte) {
    case '"':
    case '#':
    case '%':
    case '<':
    case '>':
    case '\\':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}':
      return true;
    default:
      return false;
  }
}

}  // namespace

// Records go to the log server as they were built, and an error text may carry
// anything a server sent back: a raw CR LF there would end the request line and
// turn the rest of the record into header lines of its own.
std::string EncodeRequestTarget(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char byte : text) {
    if (NeedsEncoding(byte)) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}
