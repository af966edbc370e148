#include "platform/md5.h"

#include <openssl/evp.h>

namespace platform {

struct Md5::Native {
  EVP_MD_CTX* context = nullptr;
  bool ok = false;
  bool finished = false;
};

Md5::Md5() : native_(new Native) {
  native_->context = EVP_MD_CTX_new();
  native_->ok = native_->context && EVP_DigestInit_ex(native_->context, EVP_md5(), nullptr) == 1;
}

Md5::~Md5() { EVP_MD_CTX_free(native_->context); }

bool Md5::ok() const { return native_->ok; }

void Md5::Update(const void* data, size_t size) {
  if (!native_->ok || native_->finished) return;
  if (EVP_DigestUpdate(native_->context, data, size) != 1) native_->ok = false;
}

std::string Md5::HexDigest() {
  if (!native_->ok || native_->finished) return std::string();
  native_->finished = true;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(native_->context, digest, &length) != 1) return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0x0F];
  }
  return text;
}

}  // namespace platform
