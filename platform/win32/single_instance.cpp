#include "platform/single_instance.h"

#include <windows.h>

#include "platform/win32/unique_handle.h"

namespace platform {

struct NamedMutex::Native {
  explicit Native(HANDLE mutex) : handle(mutex) {}
  KernelHandle handle;
};

NamedMutex::NamedMutex(const std::string& name)
    : native_(new Native(CreateMutexA(NULL, FALSE, name.c_str()))), status_(GetLastError()) {}

NamedMutex::~NamedMutex() = default;

}  // namespace platform
