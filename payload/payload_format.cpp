#include "payload/payload_format.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace payload {
namespace {

constexpr unsigned char kScrambleKey = 0x5A;
constexpr unsigned char kScrambledMarker[kMarkerSize] = {
    't' ^ kScrambleKey, 'O' ^ kScrambleKey, 'r' ^ kScrambleKey, 'V' ^ kScrambleKey,
    'a' ^ kScrambleKey, 'N' ^ kScrambleKey, 'e' ^ kScrambleKey};

// MS-DOS and PE header fields used here.
constexpr int64_t kDosHeaderSize = 64;
constexpr int64_t kDosPeOffsetField = 0x3C;
constexpr int64_t kCoffHeaderSize = 20;
constexpr uint16_t kPe32Magic = 0x10b;
constexpr uint16_t kPe32PlusMagic = 0x20b;
constexpr uint32_t kSecurityDirectoryIndex = 4;
constexpr int64_t kSectionHeaderSize = 40;
constexpr uint32_t kMaxSections = 96;
constexpr uint16_t kMaxOptionalHeaderSize = 0x1000;
// A certificate entry: its length (header included), revision, type, data.
constexpr int64_t kCertificateHeaderSize = 8;
constexpr uint16_t kCertificateRevision = 0x0200;
constexpr uint16_t kFirstCertificateType = 1;  // X.509
constexpr uint16_t kLastCertificateType = 4;   // PKCS #7 SignedData, reserved, TS stack

uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t U32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

int64_t Clamp(int64_t value, int64_t low, int64_t high) {
  return std::max(low, std::min(value, high));
}

int64_t FileSizeOf(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return 0;
  long size = std::ftell(file);
  // Offsets are kept below 2^31 throughout (a folder may even claim more).
  return size < 0 || size > 0x7FFFFFFFL ? 0 : size;
}

// Start of the marker search from the MS-DOS header's page count: pages of
// 512 bytes, the last one holding `last` bytes when that is not 0.
int64_t DosSearchStart(const unsigned char* header) {
  int64_t pages = U16(header + 4);
  int64_t last = U16(header + 2);
  int64_t start = pages * 512;
  if (last != 0) start += last - 512;
  return start;
}

// Whether a certificate entry begins at `offset`, ending by `limit`; its
// length in `length`.
bool ReadCertificateEntry(std::FILE* file, int64_t offset, int64_t limit, int64_t* length) {
  unsigned char header[kCertificateHeaderSize];
  if (offset % 8 != 0 || limit - offset < kCertificateHeaderSize ||
      !ReadFileBytes(file, offset, header, sizeof(header))) {
    return false;
  }
  const uint16_t type = U16(header + 6);
  *length = U32(header);
  return *length >= kCertificateHeaderSize && *length <= limit - offset &&
         U16(header + 4) == kCertificateRevision && type >= kFirstCertificateType &&
         type <= kLastCertificateType;
}

// Bytes of [offset, offset + size) that well-formed certificate entries fill,
// each on an 8-byte boundary (the last one's padding counted); 0 when the
// range does not begin with one.
int64_t CertificateBytes(std::FILE* file, int64_t offset, int64_t size) {
  const int64_t end = offset + size;
  int64_t at = offset;
  int64_t length = 0;
  while (at < end && ReadCertificateEntry(file, at, end, &length)) {
    at += length;
    at = std::min(end, (at + 7) / 8 * 8);
  }
  return at - offset;
}

// Fills the PE parts of the layout: the end of the image and the certificate
// table named by the security data directory.
void ReadPeLayout(std::FILE* file, const unsigned char* dos_header, FileLayout* layout) {
  int64_t pe = U32(dos_header + kDosPeOffsetField);
  unsigned char coff[4 + kCoffHeaderSize];
  if (!ReadFileBytes(file, pe, coff, sizeof(coff))) return;
  if (std::memcmp(coff, "PE\0\0", 4) != 0) return;
  uint32_t section_count = std::min<uint32_t>(U16(coff + 6), kMaxSections);
  uint16_t optional_size = U16(coff + 20);
  int64_t optional_offset = pe + static_cast<int64_t>(sizeof(coff));

  if (optional_size >= 2 && optional_size <= kMaxOptionalHeaderSize) {
    std::vector<unsigned char> optional(optional_size);
    if (ReadFileBytes(file, optional_offset, optional.data(), optional.size())) {
      uint16_t magic = U16(optional.data());
      size_t count_field = 0;
      if (magic == kPe32Magic) count_field = 92;
      if (magic == kPe32PlusMagic) count_field = 108;
      size_t directories = count_field + 4;
      size_t security = directories + kSecurityDirectoryIndex * 8;
      if (count_field != 0 && security + 8 <= optional.size() &&
          U32(optional.data() + count_field) > kSecurityDirectoryIndex) {
        layout->security_directory_offset = optional_offset + static_cast<int64_t>(security);
        int64_t offset = U32(optional.data() + security);
        int64_t size = U32(optional.data() + security + 4);
        layout->named_certificate_offset = offset;
        layout->named_certificate_size = size;
        if (offset != 0 && size != 0 && offset + size <= layout->file_size) {
          // The directory entry lies outside what a signature covers, so a
          // table whose entries do not fill the size it names still counts:
          // grown, it must not turn a signed file into an unsigned one.
          layout->certificate_bytes = CertificateBytes(file, offset, size);
          if (layout->certificate_bytes > 0) {
            layout->has_certificate_table = true;
            layout->certificate_offset = offset;
            layout->certificate_size = size;
          }
        }
      }
    }
  }

  std::vector<unsigned char> sections(section_count * kSectionHeaderSize);
  if (sections.empty() ||
      !ReadFileBytes(file, optional_offset + optional_size, sections.data(), sections.size())) {
    return;
  }
  for (uint32_t i = 0; i < section_count; ++i) {
    const unsigned char* section = sections.data() + i * kSectionHeaderSize;
    int64_t raw_size = U32(section + 16);
    int64_t raw_offset = U32(section + 20);
    if (raw_size != 0) layout->image_end = std::max(layout->image_end, raw_offset + raw_size);
  }
}

// Reads header fields of the chain, from the tail already in memory when the
// bytes lie there and from the file otherwise.
class ChainSource {
 public:
  ChainSource(std::FILE* file, const std::string& tail, int64_t tail_offset)
      : file_(file), tail_(tail), tail_offset_(tail_offset) {}

  bool Read(int64_t offset, void* out, size_t size) const {
    if (offset < 0) return false;
    int64_t tail_end = tail_offset_ + static_cast<int64_t>(tail_.size());
    if (offset >= tail_offset_ && offset + static_cast<int64_t>(size) <= tail_end) {
      std::memcpy(out, tail_.data() + (offset - tail_offset_), size);
      return true;
    }
    return ReadFileBytes(file_, offset, out, size);
  }

 private:
  std::FILE* file_;
  const std::string& tail_;
  int64_t tail_offset_;
};

}  // namespace

std::string Marker() {
  // Unscrambled through a volatile key so that the compiler cannot fold the
  // marker back into a constant of the executable.
  volatile unsigned char key = kScrambleKey;
  std::string marker(kMarkerSize, '\0');
  for (size_t i = 0; i < kMarkerSize; ++i) {
    marker[i] = static_cast<char>(kScrambledMarker[i] ^ key);
  }
  return marker;
}

bool ReadFileBytes(std::FILE* file, int64_t offset, void* out, size_t size) {
  if (offset < 0 || offset > LONG_MAX) return false;
  if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) return false;
  return std::fread(out, 1, size, file) == size;
}

FileLayout ReadFileLayout(std::FILE* file) {
  FileLayout layout;
  layout.file_size = FileSizeOf(file);
  layout.search_end = layout.file_size;

  unsigned char dos_header[kDosHeaderSize];
  if (layout.file_size >= kDosHeaderSize &&
      ReadFileBytes(file, 0, dos_header, sizeof(dos_header)) && dos_header[0] == 'M' &&
      dos_header[1] == 'Z') {
    layout.search_start = Clamp(DosSearchStart(dos_header), 0, layout.file_size);
    ReadPeLayout(file, dos_header, &layout);
    // Nothing from the signature on is covered by it, so nothing there is payload.
    if (layout.has_certificate_table) layout.search_end = layout.certificate_offset;
  }
  layout.search_start = std::min(layout.search_start, layout.search_end);
  return layout;
}

// Where the last marker in [start, end) begins, -1 when there is none; false
// when a read fails. Searched backwards a block at a time: the payload's own
// marker usually ends the file, so one block is read. `block` and
// `block_offset` keep the bytes read last.
bool FindLastMarker(std::FILE* file, int64_t start, int64_t end, const std::string& marker,
                    int64_t* found, std::string* block, int64_t* block_offset) {
  *found = -1;
  constexpr int64_t kBlockSize = 64 * 1024;
  const int64_t overlap = static_cast<int64_t>(marker.size()) - 1;
  for (int64_t block_end = end; block_end > start;) {
    const int64_t block_start = std::max(start, block_end - kBlockSize);
    // The overlap finds a marker that straddles this block and the next.
    const int64_t read_end = std::min(end, block_end + overlap);
    block->resize(static_cast<size_t>(read_end - block_start));
    if (!ReadFileBytes(file, block_start, &(*block)[0], block->size())) return false;
    *block_offset = block_start;
    const size_t at = block->rfind(marker);
    if (at != std::string::npos) {
      *found = block_start + static_cast<int64_t>(at);
      return true;
    }
    block_end = block_start;
  }
  return true;
}

PayloadScan ScanPayload(std::FILE* file, const FileLayout& layout) {
  PayloadScan scan;
  int64_t search_end = Clamp(layout.search_end, 0, layout.file_size);
  int64_t search_start = Clamp(layout.search_start, 0, search_end);

  const std::string marker = Marker();
  std::string tail;
  int64_t tail_offset = search_end;
  int64_t found = -1;
  if (!FindLastMarker(file, search_start, search_end, marker, &found, &tail, &tail_offset)) {
    return scan;
  }
  int64_t end = found < 0 ? search_end : found + static_cast<int64_t>(kMarkerSize);
  scan.end = end;

  ChainSource source(file, tail, tail_offset);
  std::vector<ScannedEntry> backwards;
  char field[kMarkerSize];
  for (;;) {
    if (end - static_cast<int64_t>(kMarkerSize) < 0) break;
    if (!source.Read(end - kMarkerSize, field, kMarkerSize)) break;
    if (std::memcmp(field, marker.data(), kMarkerSize) != 0) break;

    int64_t p = end - static_cast<int64_t>(kMarkerSize) - 1;
    unsigned char name_length = 0;
    if (p < 0 || !source.Read(p, &name_length, 1)) break;
    if (name_length > kMaxNameLength) break;

    ScannedEntry entry;
    entry.name.resize(name_length);
    p -= name_length;
    if (p - 4 < 0) break;
    if (name_length != 0 && !source.Read(p, &entry.name[0], name_length)) break;

    unsigned char size_field[4];
    p -= 4;
    if (!source.Read(p, size_field, sizeof(size_field))) break;
    entry.size = U32(size_field);
    if (entry.size > kMaxEntrySize) break;

    p -= entry.size;
    if (p < 0) break;
    entry.data_offset = p;
    backwards.push_back(std::move(entry));
    // The previous entry's marker must end exactly where this data begins.
    end = p;
  }

  scan.start = end;
  scan.entries.assign(backwards.rbegin(), backwards.rend());
  return scan;
}

void AppendEntry(const std::string& name, const std::string& data, std::string* out) {
  uint32_t size = static_cast<uint32_t>(data.size());
  out->append(data);
  for (int shift = 0; shift < 32; shift += 8) {
    out->push_back(static_cast<char>((size >> shift) & 0xFF));
  }
  out->append(name);
  out->push_back(static_cast<char>(name.size()));
  out->append(Marker());
}

}  // namespace payload
