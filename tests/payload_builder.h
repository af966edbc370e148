// Builds payload bytes for tests, written apart from the product's own writer
// so that a fault in one is not mirrored by the other.
#pragma once

#include <cstdint>
#include <string>

namespace test_payload {

// The marker, assembled at run time so the test binary holds no copy of it.
inline std::string MarkerBytes() { return std::string("tOr") + std::string("VaNe"); }

// An entry with explicit size and name-length fields, for broken chains.
inline std::string RawEntry(const std::string& data, uint32_t size, const std::string& name,
                            uint8_t name_length) {
  std::string out = data;
  for (int i = 0; i < 4; ++i) out += static_cast<char>((size >> (8 * i)) & 0xFF);
  out += name;
  out += static_cast<char>(name_length);
  out += MarkerBytes();
  return out;
}

inline std::string Entry(const std::string& name, const std::string& data) {
  return RawEntry(data, static_cast<uint32_t>(data.size()), name,
                  static_cast<uint8_t>(name.size()));
}

}  // namespace test_payload
