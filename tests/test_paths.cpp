#include "tests/test_paths.h"

#include <random>
#include <vector>

#include "platform/files.h"

namespace test_paths {
namespace {

void RemoveTree(const std::string& folder, int depth) {
  std::vector<platform::FolderEntry> entries;
  if (platform::ListFolder(folder, &entries)) {
    for (const platform::FolderEntry& entry : entries) {
      std::string path = platform::JoinPath(folder, entry.name);
      if (entry.is_folder) {
        if (depth > 0) RemoveTree(path, depth - 1);
      } else {
        platform::RemoveFile(path);
      }
    }
  }
  platform::RemoveFolder(folder);
}

}  // namespace

std::string SourcePath(const std::string& relative) {
  std::string path = std::string(KESTREL_SOURCE_DIR) + "/" + relative;
#ifdef _WIN32
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  if (!path.empty() && path[0] == '\\') path = "Z:" + path;
#endif
  return path;
}

ScratchFolder::ScratchFolder() {
  std::random_device random;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    std::string candidate = platform::JoinPath(
        platform::TempFolder(), "kestrel-test-" + std::to_string(random() & 0xFFFFFF));
    if (!platform::PathExists(candidate) && platform::CreateFolder(candidate)) path_ = candidate;
  }
}

ScratchFolder::~ScratchFolder() {
  if (!path_.empty()) RemoveTree(path_, 1);
}

std::string ScratchFolder::File(const std::string& name) const {
  return platform::JoinPath(path_, name);
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  platform::UniqueFile file = platform::OpenFile(path, "wb");
  if (!file) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  return std::fflush(file.get()) == 0 && ok;
}

}  // namespace test_paths
