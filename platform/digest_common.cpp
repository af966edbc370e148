#include "platform/digest.h"

namespace platform {

const char* DigestName(DigestAlgorithm algorithm) {
  return algorithm == DigestAlgorithm::kSha256 ? "SHA-256" : "MD5";
}

std::string DigestHex(DigestAlgorithm algorithm, const void* data, size_t size) {
  Digest digest(algorithm);
  if (!digest.ok()) return std::string();
  digest.Update(data, size);
  return digest.HexDigest();
}

std::string LowerHex(const unsigned char* bytes, size_t size) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  return text;
}

}  // namespace platform
