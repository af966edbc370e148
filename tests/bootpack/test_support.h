// Shared by the bootpack tests: stub executables written byte by byte, and
// capture of what a command prints.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace bootpack_test {

inline void PutU16(std::string* bytes, size_t at, uint16_t value) {
  (*bytes)[at] = static_cast<char>(value & 0xFF);
  (*bytes)[at + 1] = static_cast<char>(value >> 8);
}

inline void PutU32(std::string* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// 600 bytes with an MS-DOS header of one page (payload search from 512) and no PE.
inline std::string DosStub() {
  std::string bytes(600, 'x');
  bytes.replace(0, 64, 64, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  PutU16(&bytes, 4, 1);
  return bytes;
}

constexpr size_t kPeOffset = 64;
constexpr size_t kOptionalHeader = kPeOffset + 24;
constexpr size_t kSecurityDirectory = kOptionalHeader + 96 + 4 * 8;
constexpr size_t kImageEnd = 1024;

// A PE32 image of one section whose raw data ends at 1024; with a certificate
// table of `certificate_size` bytes (at least 8: one PKCS #7 entry filling
// it) after the image when that is not 0.
inline std::string PeStub(uint32_t certificate_size = 0) {
  std::string bytes(kImageEnd, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  PutU16(&bytes, 2, 0x90);  // bytes on the last page
  PutU16(&bytes, 4, 1);     // pages: the search starts at 0x90
  PutU32(&bytes, 0x3C, kPeOffset);
  bytes.replace(kPeOffset, 4, std::string("PE\0\0", 4));
  PutU16(&bytes, kPeOffset + 4, 0x14c);  // i386
  PutU16(&bytes, kPeOffset + 6, 1);      // one section
  PutU16(&bytes, kPeOffset + 20, 224);   // optional header size
  PutU16(&bytes, kOptionalHeader, 0x10b);
  PutU32(&bytes, kOptionalHeader + 92, 16);  // data directories
  size_t section = kOptionalHeader + 224;
  bytes.replace(section, 5, ".text");
  PutU32(&bytes, section + 16, 512);  // raw size
  PutU32(&bytes, section + 20, 512);  // raw offset
  for (size_t i = 512; i < kImageEnd; ++i) bytes[i] = static_cast<char>(0xC3);
  if (certificate_size != 0) {
    PutU32(&bytes, kSecurityDirectory, kImageEnd);
    PutU32(&bytes, kSecurityDirectory + 4, certificate_size);
    std::string entry(certificate_size, '\x5A');
    PutU32(&entry, 0, certificate_size);  // its length
    PutU16(&entry, 4, 0x0200);            // revision 2.0
    PutU16(&entry, 6, 0x0002);            // PKCS #7 SignedData
    bytes += entry;
  }
  return bytes;
}

// A stdio stream whose text can be read back.
class Capture {
 public:
  Capture() : file_(std::tmpfile()) {}
  ~Capture() {
    if (file_) std::fclose(file_);
  }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  std::FILE* get() const { return file_; }
  std::string Text() const {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, got);
    return text;
  }

 private:
  std::FILE* file_;
};

}  // namespace bootpack_test
