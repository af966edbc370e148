#include "platform/registry.h"

#include <windows.h>

#include <vector>

#include "platform/win32/unique_handle.h"

namespace platform {
namespace {

class Win32Registry : public Registry {
 public:
  bool ReadValue(RegistryRoot root, const std::string& key, const std::string& name,
                 size_t max_bytes, std::string* bytes) override {
    HKEY root_key = root == RegistryRoot::kCurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    KeyHandle opened;
    if (RegOpenKeyExA(root_key, key.c_str(), 0, KEY_READ, opened.out()) != ERROR_SUCCESS) {
      return false;
    }
    // The type is not examined: the caller knows what it asks for.
    std::vector<BYTE> buffer(max_bytes + 1, 0);
    DWORD size = static_cast<DWORD>(max_bytes);
    LONG status =
        RegQueryValueExA(opened.get(), name.c_str(), nullptr, nullptr, buffer.data(), &size);
    if (status != ERROR_SUCCESS || size > max_bytes) return false;
    bytes->assign(reinterpret_cast<const char*>(buffer.data()), size);
    return true;
  }
};

}  // namespace

Registry& SystemRegistry() {
  static Win32Registry* registry = new Win32Registry;
  return *registry;
}

}  // namespace platform
