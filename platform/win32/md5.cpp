#include "platform/md5.h"

#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include "platform/win32/unique_handle.h"

namespace platform {
namespace {

struct CryptProviderTraits {
  using Handle = HCRYPTPROV;
  static Handle Invalid() { return 0; }
  static bool IsValid(Handle handle) { return handle != 0; }
  static void Close(Handle handle) { CryptReleaseContext(handle, 0); }
};
using CryptProvider = UniqueHandle<CryptProviderTraits>;

struct CryptHashTraits {
  using Handle = HCRYPTHASH;
  static Handle Invalid() { return 0; }
  static bool IsValid(Handle handle) { return handle != 0; }
  static void Close(Handle handle) { CryptDestroyHash(handle); }
};
using CryptHash = UniqueHandle<CryptHashTraits>;

}  // namespace

struct Md5::Native {
  CryptProvider provider;  // declared first, so the hash goes before it
  CryptHash hash;
  bool ok = false;
  bool finished = false;
};

Md5::Md5() : native_(new Native) {
  // A failed call may leave its output unset; it is cleared so nothing is released.
  if (!CryptAcquireContextA(native_->provider.out(), nullptr, nullptr, PROV_RSA_FULL,
                            CRYPT_VERIFYCONTEXT)) {
    *native_->provider.out() = 0;
    return;
  }
  native_->ok = CryptCreateHash(native_->provider.get(), CALG_MD5, 0, 0, native_->hash.out()) != 0;
  if (!native_->ok) *native_->hash.out() = 0;
}

Md5::~Md5() = default;

bool Md5::ok() const { return native_->ok; }

void Md5::Update(const void* data, size_t size) {
  if (!native_->ok || native_->finished) return;
  const BYTE* bytes = static_cast<const BYTE*>(data);
  // CryptHashData takes a DWORD length.
  while (size > 0) {
    DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    if (!CryptHashData(native_->hash.get(), bytes, chunk, 0)) {
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
  if (!CryptGetHashParam(native_->hash.get(), HP_HASHVAL, digest, &length, 0)) return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (DWORD i = 0; i < length; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0x0F];
  }
  return text;
}

}  // namespace platform
