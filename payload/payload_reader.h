// The entries of the payload appended to the program's own executable, found
// once at start-up and kept for the life of the process. The file stays
// mapped meanwhile and an entry's bytes are read from it only when the entry
// is used: a large installer costs nothing until it is written out.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/file_mapping.h"
#include "platform/sync.h"

namespace payload {

struct PayloadEntry {
  std::string name;  // upper-cased
  int32_t size = 0;
  int64_t offset = 0;  // of the data, in the file
  // size + 1 bytes, the last one 0, so that text entries are C strings: the
  // copy entryData hands out, made when it is first asked for (under the
  // reader's lock) and kept from then on.
  mutable std::unique_ptr<char[]> text;
};

class PayloadReader {
 public:
  // Reads the payload of the running executable. Never fails: a missing,
  // unreadable or broken payload just gives fewer entries (possibly none).
  PayloadReader();
  // Reads the payload of the executable at `path` (tests and tools).
  explicit PayloadReader(const std::string& path);

  PayloadReader(const PayloadReader&) = delete;
  PayloadReader& operator=(const PayloadReader&) = delete;

  // Lookups upper-case the requested name (ASCII only) and compare it with the
  // stored names byte for byte.
  bool hasEntry(std::string name) const;
  // The entry's NUL-terminated data, owned by the reader and valid while it
  // lives; null when absent, or when no address space is left for a view of
  // its bytes (memory running out for the copy throws, as any allocation
  // does, to the start-up's guard). Any thread may ask.
  const char* entryData(std::string name) const;
  // The entry's size; 0 when absent.
  int32_t entrySize(std::string name) const;
  // Writes the entry to directory\fileName; true when every byte was written.
  // An absent entry deletes that file instead (a stale copy from an earlier
  // run) and counts as success.
  bool saveEntry(std::string entry_name, std::string fileName, std::string directory) const;

  size_t EntryCount() const { return entries_.size(); }

 private:
  void Read(const std::string& path);
  const PayloadEntry* Find(const std::string& name) const;

  platform::FileMapping mapping_;
  // Keyed by the name as stored in the file. Written only by the constructor.
  std::map<std::string, std::unique_ptr<PayloadEntry>> entries_;
  mutable platform::Lock text_lock_;  // guards each entry's `text`
};

}  // namespace payload
