// Facts about the machine: free disk space.
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

}  // namespace platform
