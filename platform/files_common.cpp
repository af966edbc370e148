// File helpers that are the same on every platform.
#include "platform/ascii.h"
#include "platform/files.h"

namespace platform {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  UniqueFile file = OpenFile(path, "rb");
  if (!file) return false;
  bytes->clear();
  char buffer[16384];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes->append(buffer, got);
  return std::ferror(file.get()) == 0;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  size_t start = 0;
  while (start < name.size() && name[start] == '\\') ++start;
  std::string result = folder;
  if (result.empty() || result.back() != '\\') result += '\\';
  result.append(name, start, std::string::npos);
  return result;
}

namespace {

// A path's levels as Windows resolves them: separators either way, trailing
// dots and blanks dropped (so "." and "..." are nothing), and ".." back a
// level but never past the `root_levels` that make the root itself.
std::vector<std::string> FoldLevels(const std::string& path, size_t root_levels) {
  std::vector<std::string> levels;
  size_t at = 0;
  while (at <= path.size()) {
    size_t end = path.find_first_of("\\/", at);
    if (end == std::string::npos) end = path.size();
    std::string level = path.substr(at, end - at);
    const bool up = level == "..";
    while (!level.empty() && (level.back() == '.' || level.back() == ' ')) level.pop_back();
    if (up) {
      if (levels.size() > root_levels) levels.pop_back();
    } else if (!level.empty()) {
      levels.push_back(level);
    }
    at = end + 1;
  }
  return levels;
}

bool IsRelative(const std::string& path) {
  return !path.empty() && !IsSeparator(path[0]) && !(path.size() >= 2 && path[1] == ':');
}

}  // namespace

bool SpellsDriveOrShareRoot(const std::string& path) {
  std::string rest = path;
  for (char& c : rest) {
    if (c == '/') c = '\\';
  }
  size_t root_levels = 0;  // the levels that make the root itself
  // The Win32 namespaces: a device's name first (C:, Volume{GUID},
  // HarddiskVolume1), or UNC with a server and a share.
  if (StartsWithNoCase(rest, "\\\\?\\") || StartsWithNoCase(rest, "\\\\.\\")) {
    rest.erase(0, 4);
    // The object namespace reaches every device's root by names no
    // spelling rule can tell from a folder's.
    if (StartsWithNoCase(rest, "GLOBALROOT")) return true;
    root_levels = StartsWithNoCase(rest, "UNC\\") ? 3 : 1;
  } else if (rest.size() >= 2 && rest[0] == '\\' && rest[1] == '\\') {
    root_levels = 2;  // server and share
  } else if (rest.size() >= 2 && rest[1] == ':') {
    rest.erase(0, 2);  // "C:name" is taken as if from the drive's root, to be safe
  } else if (IsRelative(rest)) {
    return false;
  }
  return FoldLevels(rest, root_levels).size() <= root_levels;
}

bool EndsAtOrAboveCurrentFolder(const std::string& path) {
  return IsRelative(path) && FoldLevels(path, 0).empty();
}

bool IsDriveOrShareRoot(const std::string& path) {
  // Both readings: "C:" and "C:dir\.." stay roots even where the drive's
  // current folder is deeper.
  return SpellsDriveOrShareRoot(path) || SpellsDriveOrShareRoot(FullPath(path));
}

namespace {

// Whether `path`, resolved, is the current folder or a folder above it,
// however it is spelt ("..\Downloads" run from Downloads is Downloads).
bool ResolvesAtOrAboveCurrentFolder(const std::string& path) {
  const std::vector<std::string> target = FoldLevels(FullPath(path), 1);
  const std::vector<std::string> here = FoldLevels(FullPath("."), 1);
  if (target.empty() || target.size() > here.size()) return false;
  for (size_t i = 0; i < target.size(); ++i) {
    if (!EqualsIgnoringCase(target[i], here[i])) return false;
  }
  return true;
}

}  // namespace

bool IsRootOrCurrentFolder(const std::string& path) {
  // "." and "WF\.." resolve there too, wherever the run starts.
  return IsDriveOrShareRoot(path) || ResolvesAtOrAboveCurrentFolder(path);
}

// Built level by level with CreateFolder rather than with the shell's helper,
// which the oldest supported systems lack and which refuses relative paths.
bool CreateFolderTree(const std::string& path) {
  if (path.empty()) return false;
  if (IsFolder(path)) return true;
  size_t pos = 0;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // \\server\share: neither level can be created.
    pos = path.find_first_of("\\/", 2);
    if (pos != std::string::npos) pos = path.find_first_of("\\/", pos + 1);
    if (pos == std::string::npos) return false;
  } else if (path.size() >= 2 && path[1] == ':') {
    pos = 2;
  }
  while ((pos = path.find_first_of("\\/", pos + 1)) != std::string::npos) {
    std::string level = path.substr(0, pos);
    if (!IsSeparator(level.back()) && !IsFolder(level)) CreateFolder(level);
  }
  CreateFolder(path);
  return IsFolder(path);
}

}  // namespace platform
