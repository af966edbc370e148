#include "engine/file_md5.h"

#include <vector>

#include "platform/files.h"
#include "platform/md5.h"

namespace engine {

namespace {
// Large enough to keep the disk streaming, small enough that memory does not
// depend on the file.
constexpr size_t kChunkSize = 256 * 1024;
}  // namespace

std::string FileMd5(const std::string& path) {
  platform::UniqueFile file = platform::OpenFile(path, "rb");
  if (!file) return "ERROR_FILE";
  platform::Md5 md5;
  if (!md5.ok()) return "ERROR_HASH";
  std::vector<char> chunk(kChunkSize);
  for (;;) {
    size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get());
    if (got > 0) md5.Update(chunk.data(), got);
    if (got < chunk.size()) break;
  }
  if (std::ferror(file.get())) return "ERROR_HASH";
  std::string digest = md5.HexDigest();
  return digest.empty() ? "ERROR_HASH" : digest;
}

bool Md5Differs(const std::string& path, const std::string& expected) {
  if (expected.empty()) return false;
  return FileMd5(path) != expected;
}

}  // namespace engine
