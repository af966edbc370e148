#include "platform/file_mapping.h"

#include <windows.h>

#include "platform/win32/unique_handle.h"

namespace platform {

struct FileMapping::Native {
  KernelHandle mapping;
  // Views begin on multiples of it, a power of two (64 KiB on every Windows
  // so far).
  int64_t granularity = 0;
};

void FileView::Release() {
  if (base_) UnmapViewOfFile(base_);
  base_ = nullptr;
  data_ = nullptr;
}

FileMapping::FileMapping(const std::string& path) {
  // The sharing of fopen's "rb", so that whatever opened the file before still can.
  KernelHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  if (!file.valid() || !GetFileSizeEx(file.get(), &size)) return;
  std::unique_ptr<Native> native(new Native);
  // Fails for an empty file, which has nothing to view either, and for
  // anything but a file. The mapping keeps the file open, so the file's own
  // handle can go.
  native->mapping.reset(CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!native->mapping.valid()) return;
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  native->granularity = system.dwAllocationGranularity;
  native_ = std::move(native);
  size_ = size.QuadPart;
}

FileMapping::~FileMapping() = default;

FileView FileMapping::Map(int64_t offset, size_t size) const {
  FileView view;
  if (!Holds(offset, size)) return view;
  const int64_t start = offset & ~(native_->granularity - 1);
  const size_t lead = static_cast<size_t>(offset - start);
  if (size > SIZE_MAX - lead) return view;
  void* base = MapViewOfFile(native_->mapping.get(), FILE_MAP_READ,
                             static_cast<DWORD>(static_cast<uint64_t>(start) >> 32),
                             static_cast<DWORD>(start & 0xFFFFFFFF), lead + size);
  if (!base) return view;
  view.base_ = base;
  view.mapped_size_ = lead + size;
  view.data_ = static_cast<const char*>(base) + lead;
  return view;
}

}  // namespace platform
