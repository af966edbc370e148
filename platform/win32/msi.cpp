#include "platform/msi.h"

#include <windows.h>

#include "platform/files.h"
#include "platform/win32/unique_handle.h"

namespace platform {
namespace {

class SystemInstaller : public WindowsInstaller {
 public:
  Outcome QueryProductState(const std::string& product_code, int* state, uint32_t* error) override {
    // By its full path: a bare name is searched in the executable's own folder
    // first, which is usually Downloads.
    const std::string path = JoinPath(SystemFolder(), "msi.dll");
    LibraryHandle library(LoadLibraryA(path.c_str()));
    if (!library.get()) {
      *error = GetLastError();
      return Outcome::kNoLibrary;
    }
    typedef INT(WINAPI * QueryProductStateA)(LPCSTR);
    QueryProductStateA query = reinterpret_cast<QueryProductStateA>(
        reinterpret_cast<void*>(GetProcAddress(library.get(), "MsiQueryProductStateA")));
    if (!query) {
      *error = GetLastError();
      return Outcome::kNoFunction;
    }
    *state = query(product_code.c_str());
    return Outcome::kAnswered;
  }
};

}  // namespace

WindowsInstaller& SystemWindowsInstaller() {
  // Never destroyed: a pipeline thread still running at exit may ask it.
  static SystemInstaller* installer = new SystemInstaller;
  return *installer;
}

}  // namespace platform
