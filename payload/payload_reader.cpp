#include "payload/payload_reader.h"

#include "payload/payload_format.h"
#include "platform/ascii.h"
#include "platform/files.h"

namespace payload {

PayloadReader::PayloadReader() { Read(platform::ExecutablePath()); }

PayloadReader::PayloadReader(const std::string& path) { Read(path); }

void PayloadReader::Read(const std::string& path) {
  if (path.empty()) return;
  platform::UniqueFile file = platform::OpenFile(path, "rb");
  if (!file) return;

  FileLayout layout = ReadFileLayout(file.get());
  PayloadScan scan = ScanPayload(file.get(), layout);
  // From the end backwards, so that of two entries with one name the one
  // nearer the end is kept and the other is never read.
  for (auto it = scan.entries.rbegin(); it != scan.entries.rend(); ++it) {
    if (hasEntry(it->name)) continue;
    // A name with a lower-case letter can never be asked for.
    if (platform::AsciiUpper(it->name) != it->name) continue;
    auto entry = std::make_unique<PayloadEntry>();
    entry->name = it->name;
    entry->size = static_cast<int32_t>(it->size);
    entry->data.reset(new char[it->size + size_t{1}]);
    if (it->size != 0 && !ReadFileBytes(file.get(), it->data_offset, entry->data.get(), it->size)) {
      break;
    }
    entry->data[it->size] = '\0';
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
  return entry ? entry->data.get() : nullptr;
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
  size_t size = static_cast<size_t>(entry->size);
  bool written = std::fwrite(entry->data.get(), 1, size, file.get()) == size;
  // A full disk may only show when the buffer is flushed.
  if (std::fflush(file.get()) != 0) written = false;
  return written;
}

}  // namespace payload
