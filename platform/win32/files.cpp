#include "platform/files.h"

#include <io.h>
#include <windows.h>
// <windows.h> maps ReplaceFile to ReplaceFileA; keep the neutral name.
#undef ReplaceFile

#include "platform/win32/unique_handle.h"

namespace platform {

std::string ExecutablePath() {
  char buffer[261] = {0};
  DWORD length = GetModuleFileNameA(nullptr, buffer, 259);
  if (length == 0) return std::string();
  return std::string(buffer);
}

std::string TempFolder() {
  char buffer[257] = {0};
  DWORD length = GetTempPathA(256, buffer);
  if (length == 0 || length > 256) return std::string();
  return std::string(buffer, length);
}

std::string SystemFolder() {
  char buffer[MAX_PATH + 1] = {0};
  UINT length = GetSystemDirectoryA(buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(buffer, length);
}

std::string FullPath(const std::string& path) {
  if (path.empty()) return std::string();
  // The size asked for first: a current folder may be longer than MAX_PATH.
  const DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return std::string();
  std::string full(size, '\0');
  const DWORD length = GetFullPathNameA(path.c_str(), size, &full[0], nullptr);
  if (length == 0 || length >= size) return std::string();  // the folder changed meanwhile
  full.resize(length);
  return full;
}

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

UniqueFile OpenFile(const std::string& path, const char* mode) {
  return UniqueFile(std::fopen(path.c_str(), mode));
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateFolder(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool RemoveFolder(const std::string& path) { return RemoveDirectoryA(path.c_str()) != 0; }

bool ReplaceFile(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
  WIN32_FIND_DATAA data;
  FindHandle find(FindFirstFileA(JoinPath(folder, "*").c_str(), &data));
  if (find.get() == INVALID_HANDLE_VALUE) {
    // A drive's root has no "." entry, so an empty one finds nothing at all.
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    entries->clear();
    return true;
  }
  entries->clear();
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    FolderEntry entry;
    entry.name = name;
    entry.is_folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entries->push_back(entry);
  } while (FindNextFileA(find.get(), &data));
  return GetLastError() == ERROR_NO_MORE_FILES;
}

int64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace platform
