#include "platform/files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/posix/native_path.h"

namespace platform {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool StatPath(const std::string& path, struct stat* info) {
  return stat(NativePath(path).c_str(), info) == 0;
}

}  // namespace

std::string ExecutablePath() {
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(length));
}

std::string TempFolder() {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string folder = (tmpdir && *tmpdir) ? tmpdir : "/tmp";
  if (folder.back() != '/') folder += '/';
  if (folder.size() > 256) return std::string();
  return folder;
}

// $KESTREL_SYSTEM_FOLDER stands in for another system folder, or an unknown
// one when empty.
std::string SystemFolder() {
  const char* folder = std::getenv("KESTREL_SYSTEM_FOLDER");
  return folder ? folder : "C:\\WINDOWS\\system32";
}

// As GetFullPathNameA reads it, with the process's folder for the current
// one: "\rest" is on the current drive, "X:rest" in the current folder when
// that is on X and at X's root otherwise. Off every drive (a build folder),
// the current folder stays a native path, whose own root is "/".
std::string FullPath(const std::string& path) {
  if (path.empty()) return std::string();
  const bool has_drive = path.size() >= 2 && path[1] == ':';
  if ((path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) ||
      (has_drive && path.size() >= 3 && IsSeparator(path[2]))) {
    return path;
  }
  char buffer[4096];
  if (!getcwd(buffer, sizeof buffer)) return std::string();
  const std::string current = LogicPath(buffer);
  const bool on_drive = current.size() >= 2 && current[1] == ':';
  if (has_drive) {
    const bool same = on_drive && std::toupper(static_cast<unsigned char>(current[0])) ==
                                      std::toupper(static_cast<unsigned char>(path[0]));
    return JoinPath(same ? current : path.substr(0, 2), path.substr(2));
  }
  if (IsSeparator(path[0])) return (on_drive ? current.substr(0, 2) : "C:") + path;
  return JoinPath(current, path);
}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

UniqueFile OpenFile(const std::string& path, const char* mode) {
  return UniqueFile(std::fopen(NativePath(path).c_str(), mode));
}

bool PathExists(const std::string& path) {
  struct stat info;
  return StatPath(path, &info);
}

bool IsFolder(const std::string& path) {
  struct stat info;
  return StatPath(path, &info) && S_ISDIR(info.st_mode);
}

bool CreateFolder(const std::string& path) { return mkdir(NativePath(path).c_str(), 0777) == 0; }

bool RemoveFile(const std::string& path) { return unlink(NativePath(path).c_str()) == 0; }

bool RemoveFolder(const std::string& path) { return rmdir(NativePath(path).c_str()) == 0; }

bool ReplaceFile(const std::string& from, const std::string& to) {
  return std::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
  // As FindFirstFileA(folder\*) reads it: an empty folder is the drive's root.
  std::string native = NativePath(JoinPath(folder, ""));
  DIR* dir = opendir(native.c_str());
  if (!dir) return false;
  entries->clear();
  while (const dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    FolderEntry item;
    item.name = entry->d_name;
    if (entry->d_type == DT_DIR) {
      item.is_folder = true;
    } else if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat info;
      item.is_folder =
          stat((native + '/' + item.name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    entries->push_back(item);
  }
  closedir(dir);
  return true;
}

int64_t FileSize(const std::string& path) {
  struct stat info;
  if (!StatPath(path, &info) || S_ISDIR(info.st_mode)) return -1;
  return static_cast<int64_t>(info.st_size);
}

}  // namespace platform
