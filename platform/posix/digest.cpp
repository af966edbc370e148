#include "platform/digest.h"

#include <openssl/evp.h>

namespace platform {

struct Digest::Native {
  EVP_MD_CTX* context = nullptr;
  bool ok = false;
  bool finished = false;
};

Digest::Digest(DigestAlgorithm algorithm) : native_(new Native) {
  native_->context = EVP_MD_CTX_new();
  const EVP_MD* kind = algorithm == DigestAlgorithm::kSha256 ? EVP_sha256() : EVP_md5();
  native_->ok = native_->context && EVP_DigestInit_ex(native_->context, kind, nullptr) == 1;
}

Digest::~Digest() { EVP_MD_CTX_free(native_->context); }

bool Digest::ok() const { return native_->ok; }

void Digest::Update(const void* data, size_t size) {
  if (!native_->ok || native_->finished) return;
  if (EVP_DigestUpdate(native_->context, data, size) != 1) native_->ok = false;
}

std::string Digest::HexDigest() {
  if (!native_->ok || native_->finished) return std::string();
  native_->finished = true;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(native_->context, digest, &length) != 1) return std::string();
  return LowerHex(digest, length);
}

}  // namespace platform
