// The Windows Installer's product query, reached through Msi.dll loaded on
// demand (by its full path in the system folder), so the program starts on
// machines without the installer. The logic receives a WindowsInstaller&, so
// tests can answer for it.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class WindowsInstaller {
 public:
  enum class Outcome { kAnswered, kNoLibrary, kNoFunction };
  virtual ~WindowsInstaller() = default;
  // MsiQueryProductStateA; `state` is the installer's answer (5 = installed),
  // `error` the system's last error code when the library or function is missing.
  virtual Outcome QueryProductState(const std::string& product_code, int* state,
                                    uint32_t* error) = 0;
};

// The real one (posix: a stand-in answering from the registry stand-in file,
// key HKEY_LOCAL_MACHINE\KestrelInstalledProducts, value = product code, dword state).
WindowsInstaller& SystemWindowsInstaller();

}  // namespace platform
