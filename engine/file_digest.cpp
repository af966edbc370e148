#include "engine/file_digest.h"

#include <vector>

#include "platform/files.h"

namespace engine {

namespace {
// Large enough to keep the disk streaming, small enough that memory does not
// depend on the file.
constexpr size_t kChunkSize = 256 * 1024;
}  // namespace

std::string FileDigest(const std::string& path, platform::DigestAlgorithm algorithm) {
  platform::UniqueFile file = platform::OpenFile(path, "rb");
  if (!file) return "ERROR_FILE";
  platform::Digest digest(algorithm);
  if (!digest.ok()) return "ERROR_HASH";
  std::vector<char> chunk(kChunkSize);
  for (;;) {
    size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get());
    if (got > 0) digest.Update(chunk.data(), got);
    if (got < chunk.size()) break;
  }
  if (std::ferror(file.get())) return "ERROR_HASH";
  const std::string hex = digest.HexDigest();
  return hex.empty() ? "ERROR_HASH" : hex;
}

std::string FileMd5(const std::string& path) {
  return FileDigest(path, platform::DigestAlgorithm::kMd5);
}

bool DigestDiffers(const std::string& path, platform::DigestAlgorithm algorithm,
                   const std::string& expected) {
  if (expected.empty()) return false;
  return FileDigest(path, algorithm) != expected;
}

bool Md5Differs(const std::string& path, const std::string& expected) {
  return DigestDiffers(path, platform::DigestAlgorithm::kMd5, expected);
}

}  // namespace engine
