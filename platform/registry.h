// Read-only registry access. The logic receives a Registry&, so tests can hand
// it a store of their own; SystemRegistry() is the real one (on posix a small
// text file in the .reg format, see platform/posix/registry.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

enum class RegistryRoot { kCurrentUser, kLocalMachine };

class Registry {
 public:
  virtual ~Registry() = default;
  // The value's raw bytes (a string value keeps its terminating zero). False
  // when the key or value is missing or the value is larger than max_bytes.
  virtual bool ReadValue(RegistryRoot root, const std::string& key, const std::string& name,
                         size_t max_bytes, std::string* bytes) = 0;

  // A 32-bit value (the first four bytes, little-endian).
  bool ReadDword(RegistryRoot root, const std::string& key, const std::string& name,
                 uint32_t* value);
  // A string value up to its first zero byte.
  bool ReadString(RegistryRoot root, const std::string& key, const std::string& name,
                  size_t max_bytes, std::string* value);
};

Registry& SystemRegistry();

}  // namespace platform
