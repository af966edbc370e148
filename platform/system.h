// Facts about the machine: its system version, free disk space, the last error.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Whether the volume holding `folder` has at least `bytes` free, counting all
// free space rather than the caller's quota (win32: GetDiskFreeSpaceExA,
// looked up at run time, else GetDiskFreeSpaceA, whose 32-bit product must
// exceed `bytes`). False when the volume cannot be asked. On posix a folder
// that does not exist is measured at its nearest existing parent on the same
// drive: the translated drive holds no Windows system folder.
bool HasFreeSpace(const std::string& folder, uint32_t bytes);

// The comparison of HasFreeSpace when the volume's free bytes are known as a
// 64-bit count: an exact fit is room enough.
inline bool FreeSpaceCovers(uint64_t free_bytes, uint32_t bytes) { return free_bytes >= bytes; }

struct OsVersion {
  uint32_t platform_id = 0;  // 2 for the NT family
  uint32_t major = 0;
  uint32_t minor = 0;
};
// GetVersionExA with the basic record; on posix an NT 5.1 stand-in, or the
// version in $KESTREL_OS_VERSION ("platform.major.minor") for tests.
OsVersion ReadOsVersion();

// The calling thread's last system error code (GetLastError; errno on posix).
uint32_t LastErrorCode();

}  // namespace platform
