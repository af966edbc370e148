#include "platform/system.h"

#include <windows.h>

namespace platform {
namespace {

typedef BOOL(WINAPI* GetDiskFreeSpaceExFunction)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                                 PULARGE_INTEGER);

}  // namespace

bool HasFreeSpace(const std::string& folder, uint32_t bytes) {
  // Early Windows 95 and NT releases lack the 64-bit call; it is looked up so
  // the program still loads there.
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  GetDiskFreeSpaceExFunction free_space_ex =
      kernel ? reinterpret_cast<GetDiskFreeSpaceExFunction>(
                   reinterpret_cast<void*>(GetProcAddress(kernel, "GetDiskFreeSpaceExA")))
             : nullptr;
  if (free_space_ex) {
    ULARGE_INTEGER available_to_caller, total, total_free;
    if (!free_space_ex(folder.c_str(), &available_to_caller, &total, &total_free)) return false;
    return FreeSpaceCovers(total_free.QuadPart, bytes);
  }
  DWORD sectors_per_cluster = 0, bytes_per_sector = 0, free_clusters = 0, clusters = 0;
  if (!GetDiskFreeSpaceA(folder.c_str(), &sectors_per_cluster, &bytes_per_sector, &free_clusters,
                         &clusters)) {
    return false;
  }
  // The old call reports at most 2 GiB, so the 32-bit product cannot wrap.
  const uint32_t free_bytes =
      static_cast<uint32_t>(sectors_per_cluster * bytes_per_sector * free_clusters);
  return free_bytes > bytes;
}

}  // namespace platform

namespace platform {

OsVersion ReadOsVersion() {
  OSVERSIONINFOA info;
  ZeroMemory(&info, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;  // the basic record, 148 bytes
  GetVersionExA(&info);                    // its result is not looked at
  OsVersion version;
  version.platform_id = info.dwPlatformId;
  version.major = info.dwMajorVersion;
  version.minor = info.dwMinorVersion;
  return version;
}

uint32_t LastErrorCode() { return GetLastError(); }

}  // namespace platform
