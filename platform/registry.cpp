#include "platform/registry.h"

namespace platform {

bool Registry::ReadDword(RegistryRoot root, const std::string& key, const std::string& name,
                         uint32_t* value) {
  std::string bytes;
  if (!ReadValue(root, key, name, 4, &bytes)) return false;
  // A shorter value fills the low bytes of a zeroed DWORD, as a read into a
  // 4-byte buffer does.
  uint32_t result = 0;
  for (size_t i = 0; i < bytes.size() && i < 4; ++i) {
    result |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  }
  *value = result;
  return true;
}

bool Registry::ReadString(RegistryRoot root, const std::string& key, const std::string& name,
                          size_t max_bytes, std::string* value) {
  std::string bytes;
  if (!ReadValue(root, key, name, max_bytes, &bytes)) return false;
  size_t end = bytes.find('\0');
  value->assign(bytes, 0, end);
  return true;
}

}  // namespace platform
