#include "platform/md5.h"

#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

namespace platform {

struct Md5::Native {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  bool ok = false;
  bool finished = false;
};

Md5::Md5() : native_(new Native) {
  if (!CryptAcquireContextA(&native_->provider, nullptr, nullptr, PROV_RSA_FULL,
                            CRYPT_VERIFYCONTEXT)) {
    native_->provider = 0;
    return;
  }
  native_->ok = CryptCreateHash(native_->provider, CALG_MD5, 0, 0, &native_->hash) != 0;
  if (!native_->ok) native_->hash = 0;
}

Md5::~Md5() {
  if (native_->hash) CryptDestroyHash(native_->hash);
  if (native_->provider) CryptReleaseContext(native_->provider, 0);
  delete native_;
}

bool Md5::ok() const { return native_->ok; }

void Md5::Update(const void* data, size_t size) {
  if (!native_->ok || native_->finished) return;
  const BYTE* bytes = static_cast<const BYTE*>(data);
  // CryptHashData takes a DWORD length.
  while (size > 0) {
    DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    if (!CryptHashData(native_->hash, bytes, chunk, 0)) {
      native_->ok = false;
      return;
    }
    bytes += chunk;
    size -= chunk;
  }
}

std::string Md5::HexDigest() {
  if (!native_->ok || native_->finished) return std::string();
  native_->finished = true;
  BYTE digest[16];
  DWORD length = sizeof(digest);
  if (!CryptGetHashParam(native_->hash, HP_HASHVAL, digest, &length, 0)) return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (DWORD i = 0; i < length; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0x0F];
  }
  return text;
}

}  // namespace platform
