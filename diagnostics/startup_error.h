// A start-up failure whose text the entry shows in a message box. Not derived
// from std::exception on purpose: std::runtime_error's copy-on-write string
// would add about 45 KiB to the stub.
#pragma once

class StartupError {
 public:
  explicit StartupError(const char* text) : text_(text) {}
  const char* what() const { return text_; }

 private:
  const char* text_;  // a literal
};
