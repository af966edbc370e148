#include "platform/single_instance.h"

#include <windows.h>

namespace platform {

struct NamedMutex::Native {
  HANDLE handle;
};

NamedMutex::NamedMutex(const std::string& name)
    : native_(new Native{CreateMutexA(NULL, FALSE, name.c_str())}), status_(GetLastError()) {}

NamedMutex::~NamedMutex() {
  if (native_->handle) CloseHandle(native_->handle);
  delete native_;
}

}  // namespace platform
