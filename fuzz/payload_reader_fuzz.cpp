// The payload reader over a whole executable file: the layout (MS-DOS and PE
// headers, certificate table), the backwards walk of the chain, the reader's
// map, entry lookups and saving, and the configuration read from it.
#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "payload/payload_format.h"
#include "payload/payload_reader.h"
#include "payload/settings.h"
#include "platform/ascii.h"
#include "platform/files.h"

namespace {

// The layout and the scan stay inside the file, and every link of the chain
// ends where the next entry's data begins.
void CheckScan(const payload::FileLayout& layout, const payload::PayloadScan& scan) {
  FUZZ_CHECK(layout.search_start >= 0);
  FUZZ_CHECK(layout.search_start <= layout.search_end);
  FUZZ_CHECK(layout.search_end <= layout.file_size);
  if (layout.has_certificate_table) {
    FUZZ_CHECK(layout.certificate_offset >= 0);
    FUZZ_CHECK(layout.certificate_offset + layout.certificate_size <= layout.file_size);
    FUZZ_CHECK(layout.certificate_bytes > 0 && layout.certificate_bytes <= layout.certificate_size);
  }
  FUZZ_CHECK(scan.start >= 0 && scan.start <= scan.end && scan.end <= layout.search_end);
  int64_t at = scan.start;
  for (const payload::ScannedEntry& entry : scan.entries) {
    FUZZ_CHECK(entry.data_offset == at);
    FUZZ_CHECK(entry.name.size() <= payload::kMaxNameLength);
    at = entry.data_offset + entry.size + 4 + static_cast<int64_t>(entry.name.size()) + 1 +
         static_cast<int64_t>(payload::kMarkerSize);
  }
  FUZZ_CHECK(at == scan.end || scan.entries.empty());
}

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The chain walked the plain way over the bytes in memory: the search starts
// at the MS-DOS header's page count (0 without one), ends where the layout's
// signature begins, and the last marker there ends the payload.
std::vector<payload::ScannedEntry> WalkChain(const uint8_t* data, size_t size, int64_t search_end) {
  int64_t start = 0;
  if (size >= 64 && data[0] == 'M' && data[1] == 'Z') {
    const int64_t pages = data[4] | (data[5] << 8);
    const int64_t last = data[2] | (data[3] << 8);
    start = pages * 512 + (last != 0 ? last - 512 : 0);
    start = std::max<int64_t>(0, std::min<int64_t>(start, static_cast<int64_t>(size)));
  }
  start = std::min(start, search_end);
  const std::string marker = payload::Marker();
  const std::string region(reinterpret_cast<const char*>(data) + start,
                           static_cast<size_t>(search_end - start));
  const size_t found = region.rfind(marker);
  int64_t end =
      found == std::string::npos ? search_end : start + static_cast<int64_t>(found + marker.size());
  std::vector<payload::ScannedEntry> backwards;
  while (end >= 8 && std::memcmp(data + end - 7, marker.data(), 7) == 0) {
    const int64_t name_length = data[end - 8];
    if (name_length > 127) break;  // the reader keeps names below 128 bytes
    const int64_t size_at = end - 8 - name_length - 4;
    if (size_at < 0) break;
    const uint32_t entry_size = Le32(data + size_at);
    if (entry_size > 0x7FFFFFFF || size_at - entry_size < 0) break;
    payload::ScannedEntry entry;
    entry.name.assign(reinterpret_cast<const char*>(data) + end - 8 - name_length,
                      static_cast<size_t>(name_length));
    entry.size = entry_size;
    entry.data_offset = size_at - entry_size;
    backwards.push_back(entry);
    end = entry.data_offset;
  }
  return std::vector<payload::ScannedEntry>(backwards.rbegin(), backwards.rend());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::ScratchPath("input.exe");
  static const std::string saved = fuzz::ScratchPath("SAVED.BIN");
  fuzz::WriteScratchFile(path, data, size);

  payload::FileLayout layout;
  payload::PayloadScan scan;
  {
    platform::UniqueFile file = platform::OpenFile(path, "rb");
    FUZZ_CHECK(file);
    layout = payload::ReadFileLayout(file.get());
    scan = payload::ScanPayload(file.get(), layout);
  }
  FUZZ_CHECK(layout.file_size == static_cast<int64_t>(size));
  CheckScan(layout, scan);
  const std::vector<payload::ScannedEntry> walked = WalkChain(data, size, layout.search_end);
  FUZZ_CHECK(walked.size() == scan.entries.size());
  for (size_t i = 0; i < walked.size(); ++i) {
    FUZZ_CHECK(walked[i].name == scan.entries[i].name);
    FUZZ_CHECK(walked[i].data_offset == scan.entries[i].data_offset);
    FUZZ_CHECK(walked[i].size == scan.entries[i].size);
  }

  payload::PayloadReader reader(path);
  // The reader keeps, of each upper-case name, the occurrence nearest the end.
  std::map<std::string, const payload::ScannedEntry*> kept;
  for (const payload::ScannedEntry& entry : scan.entries) {
    if (platform::AsciiUpper(entry.name) == entry.name) kept[entry.name] = &entry;
  }
  FUZZ_CHECK(reader.EntryCount() == kept.size());
  for (const auto& name_and_entry : kept) {
    const payload::ScannedEntry& entry = *name_and_entry.second;
    const std::string& name = name_and_entry.first;
    FUZZ_CHECK(reader.hasEntry(name));
    FUZZ_CHECK(reader.entrySize(name) == static_cast<int32_t>(entry.size));
    const char* bytes = reader.entryData(name);
    FUZZ_CHECK(bytes != nullptr);
    FUZZ_CHECK(std::memcmp(bytes, data + entry.data_offset, entry.size) == 0);
    FUZZ_CHECK(bytes[entry.size] == '\0');
  }

  // Lookups of absent and lower-case names, and saving (or removing) a file.
  const bool has_config = kept.count("CONFIG.TXT") != 0;
  FUZZ_CHECK(reader.hasEntry("config.txt") == has_config);
  FUZZ_CHECK((reader.entryData("Config.Txt") != nullptr) == has_config);
  if (!has_config) FUZZ_CHECK(reader.entrySize("CONFIG.TXT") == 0);
  FUZZ_CHECK(reader.saveEntry("CONFIG.TXT", "SAVED.BIN", fuzz::ScratchFolder()));
  FUZZ_CHECK(platform::FileSize(saved) == (has_config ? reader.entrySize("CONFIG.TXT") : -1));

  payload::Configuration configuration = parseConfiguration(reader);
  FUZZ_CHECK(!configuration.available || has_config);
  return 0;
}
