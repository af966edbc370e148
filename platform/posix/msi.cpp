// The installer stand-in answers from the registry it is built with (the
// system's: the registry stand-in): a product is installed when
// HKEY_LOCAL_MACHINE\KestrelInstalledProducts holds its code as a dword state
// (5 = installed).
#include "platform/msi.h"

#include "platform/registry.h"

namespace platform {
namespace {

constexpr int kUnknownProduct = -1;

class RegistryBackedInstaller : public WindowsInstaller {
 public:
  explicit RegistryBackedInstaller(Registry& registry) : registry_(registry) {}

  Outcome QueryProductState(const std::string& product_code, int* state, uint32_t*) override {
    uint32_t value = 0;
    *state = registry_.ReadDword(RegistryRoot::kLocalMachine, "KestrelInstalledProducts",
                                 product_code, &value)
                 ? static_cast<int>(value)
                 : kUnknownProduct;
    return Outcome::kAnswered;
  }

 private:
  Registry& registry_;
};

}  // namespace

WindowsInstaller& SystemWindowsInstaller() {
  // Never destroyed: a pipeline thread still running at exit may ask it.
  static RegistryBackedInstaller* installer = new RegistryBackedInstaller(SystemRegistry());
  return *installer;
}

}  // namespace platform
