// MD5 digests (CryptoAPI on win32, OpenSSL on posix).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

class Md5 {
 public:
  struct Native;
  Md5();
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;

  // False when the provider is unavailable (then HexDigest is empty).
  bool ok() const;
  void Update(const void* data, size_t size);
  // 32 lower-case hex digits; the object is finished afterwards.
  std::string HexDigest();

 private:
  std::unique_ptr<Native> native_;
};

std::string Md5Hex(const void* data, size_t size);

}  // namespace platform
