#include "tools/common/file_io.h"

#include "payload/payload_format.h"
#include "platform/files.h"

namespace tools {

bool ReadAt(std::FILE* file, int64_t offset, uint32_t size, std::string* data) {
  data->resize(size);
  return size == 0 || payload::ReadFileBytes(file, offset, &(*data)[0], size);
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
  bool ok;
  {
    platform::UniqueFile file = platform::OpenFile(path, "wb");
    if (!file) return false;
    ok = data.empty() || std::fwrite(data.data(), 1, data.size(), file.get()) == data.size();
    // A full disk may only show at the final flush.
    ok = std::fclose(file.release()) == 0 && ok;
  }
  if (!ok) platform::RemoveFile(path);
  return ok;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace tools
