// A start-up failure whose text the entry shows in a message box. Not derived
// from std::exception on purpose: std::runtime_error's copy-on-write string
// would add about 45 KiB to the stub.
#pragma once

#include <cstdint>

namespace diagnostics {

class StartupError {
 public:
  // `code`: the system's error code of the call that failed, read where it failed.
  explicit StartupError(const char* text, uint32_t code = 0) : text_(text), code_(code) {}
  const char* what() const { return text_; }
  uint32_t code() const { return code_; }

 private:
  const char* text_;  // a literal
  uint32_t code_;
};

}  // namespace diagnostics
