#include "diagnostics/request_encoding.h"

namespace diagnostics {

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

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
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

std::string DecodeRequestTarget(const std::string& target) {
  std::string out;
  out.reserve(target.size());
  for (size_t i = 0; i < target.size(); ++i) {
    const bool escape = target[i] == '%' && i + 2 < target.size();
    const int high = escape ? HexValue(target[i + 1]) : -1;
    const int low = high >= 0 ? HexValue(target[i + 2]) : -1;
    if (low < 0) {
      out += target[i];
      continue;
    }
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

}  // namespace diagnostics
