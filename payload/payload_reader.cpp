#include "payload/payload_reader.h"

#include <algorithm>
#include <cstring>

#include "payload/payload_format.h"
#include "platform/ascii.h"
#include "platform/files.h"

namespace payload {

namespace {

// The most of an entry that saveEntry maps at once. Each piece is unmapped
// before the next is mapped, so writing out an entry of any size adds at most
// this much to the process's working set.
constexpr size_t kPieceBytes = 1024 * 1024;

}  // namespace

PayloadReader::PayloadReader() : PayloadReader(platform::ExecutablePath()) {}

PayloadReader::PayloadReader(const std::string& path) : mapping_(path) { Read(path); }

void PayloadReader::Read(const std::string& path) {
  if (!mapping_.opened()) return;
  platform::UniqueFile file = platform::OpenFile(path, "rb");
  if (!file) return;

  FileLayout layout = ReadFileLayout(file.get());
  // The entries are read through the mapping, when used: a file whose size
  // changed since it was mapped is not the one scanned here.
  if (layout.file_size != mapping_.size()) return;
  PayloadScan scan = ScanPayload(file.get(), layout);
  // From the end backwards, so that of two entries with one name the one
  // nearer the end is kept.
  for (auto it = scan.entries.rbegin(); it != scan.entries.rend(); ++it) {
    if (hasEntry(it->name)) continue;
    // A name with a lower-case letter can never be asked for.
    if (platform::AsciiUpper(it->name) != it->name) continue;
    auto entry = std::make_unique<PayloadEntry>();
    entry->name = it->name;
    entry->size = static_cast<int32_t>(it->size);
    entry->offset = it->data_offset;
    entries_[it->name] = std::move(entry);
  }
}

const PayloadEntry* PayloadReader::Find(const std::string& name) const {
  auto it = entries_.find(platform::AsciiUpper(name));
  return it == entries_.end() ? nullptr : it->second.get();
}

bool PayloadReader::hasEntry(std::string name) const { return Find(name) != nullptr; }

const char* PayloadReader::entryData(std::string name) const {
  const PayloadEntry* entry = Find(name);
  if (!entry) return nullptr;
  platform::LockGuard guard(text_lock_);
  if (!entry->text) {
    const size_t size = static_cast<size_t>(entry->size);
    // Memory running out here reaches the start-up's guard, as any other.
    std::unique_ptr<char[]> text(new char[size + 1]);
    if (size != 0) {
      // The copy needs the entry's size in memory anyway; a view of it costs
      // no more.
      const platform::FileView view = mapping_.Map(entry->offset, size);
      if (!view.mapped()) return nullptr;
      std::memcpy(text.get(), view.data(), size);
    }
    text[size] = '\0';
    entry->text = std::move(text);
  }
  return entry->text.get();
}

int32_t PayloadReader::entrySize(std::string name) const {
  const PayloadEntry* entry = Find(name);
  return entry ? entry->size : 0;
}

bool PayloadReader::saveEntry(std::string entry_name, std::string fileName,
                              std::string directory) const {
  std::string path = platform::JoinPath(directory, fileName);
  const PayloadEntry* entry = Find(entry_name);
  if (!entry) {
    platform::RemoveFile(path);
    return true;
  }
  platform::UniqueFile file = platform::OpenFile(path, "wb");
  if (!file) return false;
  bool written = true;
  const size_t size = static_cast<size_t>(entry->size);
  for (size_t done = 0; written && done < size; done += kPieceBytes) {
    const size_t piece = std::min(kPieceBytes, size - done);
    const platform::FileView view = mapping_.Map(entry->offset + static_cast<int64_t>(done), piece);
    written = view.mapped() && std::fwrite(view.data(), 1, piece, file.get()) == piece;
  }
  // A full disk may only show when the buffer is flushed.
  if (std::fflush(file.get()) != 0) written = false;
  return written;
}

}  // namespace payload
