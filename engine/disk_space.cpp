// The room check before the pipeline: the system drive must hold what the
// queued steps need.
#include <cstdint>

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "diagnostics/support_error.h"
#include "engine/install_manager.h"
#include "platform/files.h"
#include "platform/system.h"

namespace engine {

bool InstallManager::CheckDiskSpace() {
  if (requiredMegabytes_ <= 0) return true;
  const std::string system_folder = platform::SystemFolder();
  if (system_folder.empty()) {
    context_.events.Post(diagnostics::kSystemDirectoryNotFound);
    diagnostics::ShowSupportError(context_.boxes, diagnostics::kSystemDirectoryNotFound,
                                  "Installation Error");
    return false;
  }
  const uint32_t bytes = static_cast<uint32_t>(requiredMegabytes_) * 1048576u;
  if (!platform::HasFreeSpace(system_folder, bytes)) {
    context_.events.Post(diagnostics::kNotEnoughDiskSpace);
    context_.boxes.Show(
        "We're sorry, your system does not have enough free disk space to complete this "
        "installation.",
        "Installation Error", platform::kMessageOk);
    return false;
  }
  return true;
}

}  // namespace engine
