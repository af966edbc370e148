// The payload appended to the executable: entries laid end to end, each made of
// its data, its size (u32 LE), its name, the name's length (1 byte) and the
// 7-byte marker. The chain is read backwards from the last marker.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace payload {

constexpr size_t kMarkerSize = 7;
constexpr size_t kMaxNameLength = 127;
// Sizes from 2^31 up end the walk: an entry's size is kept as a signed 32-bit
// number.
constexpr uint32_t kMaxEntrySize = 0x7FFFFFFF;

// The marker bytes, built at run time so that the program's own constant data
// never holds them (an executable without payload must not find one in itself).
std::string Marker();

// Where things lie in an executable file, as far as the payload cares.
struct FileLayout {
  int64_t file_size = 0;
  // Where the marker search begins: from the MS-DOS header's page count, or 0
  // for a file without one.
  int64_t search_start = 0;
  // The end of the search: the certificate table's offset when the file has
  // one (what follows a signature is never payload), otherwise the file size.
  int64_t search_end = 0;
  // The range the PE's security directory names, table or not (0 when none).
  int64_t named_certificate_offset = 0;
  int64_t named_certificate_size = 0;
  // The named range begins with a certificate entry. A leftover entry (a
  // signature stripped by a tool that kept the directory) names bytes that
  // are no certificate and is ignored.
  bool has_certificate_table = false;
  int64_t certificate_offset = 0;
  int64_t certificate_size = 0;
  // How much of the table its well-formed entries fill, one after the other
  // on 8-byte boundaries: certificate_size for a well-formed table.
  int64_t certificate_bytes = 0;
  // File offset of the security data directory entry (8 bytes), or -1.
  int64_t security_directory_offset = -1;
  // End of the PE image (end of the last section's raw data), or 0.
  int64_t image_end = 0;
};

// Reads the headers of an open file; a file that is not a PE simply gets a
// layout without image or certificate table. Leaves the file position anywhere.
FileLayout ReadFileLayout(std::FILE* file);

// Reads exactly `size` bytes at `offset`; false on a short read or a bad offset.
bool ReadFileBytes(std::FILE* file, int64_t offset, void* out, size_t size);

struct ScannedEntry {
  std::string name;  // as stored in the file
  int64_t data_offset = 0;
  uint32_t size = 0;
};

struct PayloadScan {
  std::vector<ScannedEntry> entries;  // in file order
  int64_t start = 0;                  // first byte of the first entry's data (== end when empty)
  int64_t end = 0;                    // first byte after the last marker
};

// Walks the chain backwards from the last marker inside the layout's search
// range. A broken link ends the walk; entries nearer the end are kept.
// Duplicate names are all listed; the reader keeps the one nearest the end.
PayloadScan ScanPayload(std::FILE* file, const FileLayout& layout);

// Appends one entry (data, size, name, length, marker) to `out`. The name must
// be at most kMaxNameLength bytes; the packer upper-cases it beforehand.
void AppendEntry(const std::string& name, const std::string& data, std::string* out);

}  // namespace payload
