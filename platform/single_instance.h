// A named, system-wide mutex that tells whether another copy of the program runs.
#pragma once

#include <memory>
#include <string>

namespace platform {

class NamedMutex {
 public:
  struct Native;
  // Creates (or opens) the mutex without owning it; it stays until the
  // process ends, so a second copy is refused exactly as long as this one runs.
  explicit NamedMutex(const std::string& name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // The system's error code right after creation; 183 when it existed already.
  unsigned long creation_status() const { return status_; }

 private:
  std::unique_ptr<Native> native_;
  unsigned long status_;
};

constexpr unsigned long kAlreadyExists = 183;

}  // namespace platform
