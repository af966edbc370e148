#include "platform/system.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/files.h"
#include "platform/posix/native_path.h"

namespace platform {

bool HasFreeSpace(const std::string& folder, uint32_t bytes) {
  // The nearest existing folder on the path, never past the drive's root.
  std::string existing = folder;
  while (!IsFolder(existing)) {
    size_t separator = existing.find_last_of("\\/");
    if (separator == std::string::npos) return false;
    const bool drive_root = separator == 2 && existing[1] == ':';
    if (drive_root && existing.size() == 3) return false;  // no such drive
    existing.erase(separator == 0 || drive_root ? separator + 1 : separator);
  }
  struct statvfs volume;
  if (statvfs(NativePath(existing).c_str(), &volume) != 0) return false;
  // All free blocks, not only those an unprivileged user may take: the
  // volume's total free space, as Windows reports it.
  const unsigned long long free_bytes =
      static_cast<unsigned long long>(volume.f_bfree) * volume.f_frsize;
  return FreeSpaceCovers(free_bytes, bytes);
}

}  // namespace platform

namespace platform {

OsVersion ReadOsVersion() {
  OsVersion version;
  version.platform_id = 2;
  version.major = 5;
  version.minor = 1;
  if (const char* text = std::getenv("KESTREL_OS_VERSION")) {
    unsigned id = 0, major = 0, minor = 0;
    if (std::sscanf(text, "%u.%u.%u", &id, &major, &minor) == 3) {
      version.platform_id = id;
      version.major = major;
      version.minor = minor;
    }
  }
  return version;
}

uint32_t LastErrorCode() { return static_cast<uint32_t>(errno); }

}  // namespace platform
