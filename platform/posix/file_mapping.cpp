#include "platform/file_mapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "platform/posix/native_path.h"

namespace platform {

struct FileMapping::Native {
  int fd = -1;
  size_t page_size = 0;  // views begin on multiples of it, a power of two
  ~Native() {
    if (fd >= 0) close(fd);
  }
};

void FileView::Release() {
  if (base_) munmap(base_, mapped_size_);
  base_ = nullptr;
  data_ = nullptr;
}

FileMapping::FileMapping(const std::string& path) {
  std::unique_ptr<Native> native(new Native);
  native->fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info;
  if (native->fd < 0 || fstat(native->fd, &info) != 0 || !S_ISREG(info.st_mode)) return;
  native->page_size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  native_ = std::move(native);
  size_ = static_cast<int64_t>(info.st_size);
}

FileMapping::~FileMapping() = default;

FileView FileMapping::Map(int64_t offset, size_t size) const {
  FileView view;
  if (!Holds(offset, size)) return view;
  const int64_t start = offset & ~(static_cast<int64_t>(native_->page_size) - 1);
  const size_t lead = static_cast<size_t>(offset - start);
  if (size > SIZE_MAX - lead) return view;
  void* base = mmap(nullptr, lead + size, PROT_READ, MAP_SHARED, native_->fd, start);
  if (base == MAP_FAILED) return view;
  view.base_ = base;
  view.mapped_size_ = lead + size;
  view.data_ = static_cast<const char*>(base) + lead;
  return view;
}

}  // namespace platform
