// A file's bytes mapped into memory, read-only: a page is read from the file
// only when it is first touched and is the system's cached copy, so a view of
// a large file costs address space, not memory, until it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace platform {

// One mapped range of a file; unmapped when destroyed.
class FileView {
 public:
  FileView() = default;
  ~FileView() { Release(); }
  FileView(FileView&& other) noexcept { *this = std::move(other); }
  FileView& operator=(FileView&& other) noexcept {
    if (this != &other) {
      Release();
      base_ = other.base_;
      mapped_size_ = other.mapped_size_;
      data_ = other.data_;
      other.base_ = nullptr;
      other.data_ = nullptr;
    }
    return *this;
  }
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;

  bool mapped() const { return data_ != nullptr; }
  // The range's first byte; null when it could not be mapped.
  const char* data() const { return data_; }

 private:
  friend class FileMapping;
  void Release();

  // What the system mapped: the range widened down to the alignment it needs.
  void* base_ = nullptr;
  size_t mapped_size_ = 0;
  const char* data_ = nullptr;
};

// A file opened for mapping. Views may be taken from any thread while it lives.
class FileMapping {
 public:
  struct Native;
  // Opens the regular file at `path` for reading; see opened().
  explicit FileMapping(const std::string& path);
  ~FileMapping();
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;

  bool opened() const { return native_ != nullptr; }
  // The file's size when it was opened; 0 when it was not.
  int64_t size() const { return size_; }
  // Maps [offset, offset + size); an unmapped view for an empty range, one
  // outside the file, or when the system refuses (address space, resources).
  FileView Map(int64_t offset, size_t size) const;

 private:
  // Whether [offset, offset + size) is a range of bytes of the opened file.
  bool Holds(int64_t offset, size_t size) const {
    return native_ && size != 0 && offset >= 0 && offset <= size_ &&
           static_cast<uint64_t>(size) <= static_cast<uint64_t>(size_ - offset);
  }

  std::unique_ptr<Native> native_;
  int64_t size_ = 0;
};

}  // namespace platform
