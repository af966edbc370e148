#include "platform/digest.h"

#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include "platform/win32/unique_handle.h"

namespace platform {
namespace {

// The headers name it only for Windows XP's third service pack on; an older
// system's providers refuse it, which is what ok() reports.
constexpr ALG_ID kSha256Algorithm = ALG_CLASS_HASH | ALG_TYPE_ANY | 12;  // ALG_SID_SHA_256

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

struct Digest::Native {
  CryptProvider provider;  // declared first, so the hash goes before it
  CryptHash hash;
  bool ok = false;
  bool finished = false;
};

Digest::Digest(DigestAlgorithm algorithm) : native_(new Native) {
  // MD5 from the full RSA provider, as always; SHA-256 only the AES provider
  // has (from Windows XP's third service pack on).
  const bool sha256 = algorithm == DigestAlgorithm::kSha256;
  // A failed call may leave its output unset; it is cleared so nothing is released.
  if (!CryptAcquireContextA(native_->provider.out(), nullptr, nullptr,
                            sha256 ? PROV_RSA_AES : PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    *native_->provider.out() = 0;
    return;
  }
  native_->ok = CryptCreateHash(native_->provider.get(), sha256 ? kSha256Algorithm : CALG_MD5, 0, 0,
                                native_->hash.out()) != 0;
  if (!native_->ok) *native_->hash.out() = 0;
}

Digest::~Digest() = default;

bool Digest::ok() const { return native_->ok; }

void Digest::Update(const void* data, size_t size) {
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

std::string Digest::HexDigest() {
  if (!native_->ok || native_->finished) return std::string();
  native_->finished = true;
  BYTE digest[32];
  DWORD length = sizeof(digest);
  if (!CryptGetHashParam(native_->hash.get(), HP_HASHVAL, digest, &length, 0)) return std::string();
  return LowerHex(digest, length);
}

}  // namespace platform
