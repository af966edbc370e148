// Message digests of downloads (CryptoAPI on win32, OpenSSL on posix).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

enum class DigestAlgorithm { kMd5, kSha256 };

// "MD5" or "SHA-256", as the texts name them.
const char* DigestName(DigestAlgorithm algorithm);

class Digest {
 public:
  struct Native;
  explicit Digest(DigestAlgorithm algorithm);
  ~Digest();
  Digest(const Digest&) = delete;
  Digest& operator=(const Digest&) = delete;

  // False when the provider is unavailable (then HexDigest is empty). A
  // Windows XP before its third service pack has no SHA-256.
  bool ok() const;
  void Update(const void* data, size_t size);
  // Two lower-case hex digits a byte; the object is finished afterwards.
  std::string HexDigest();

 private:
  std::unique_ptr<Native> native_;
};

std::string DigestHex(DigestAlgorithm algorithm, const void* data, size_t size);

// Two lower-case hex digits for each of `size` bytes, high nibble first.
std::string LowerHex(const unsigned char* bytes, size_t size);

}  // namespace platform
