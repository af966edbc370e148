// Small helpers that the process tests of the platform and the engine share.
#pragma once

#include <chrono>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace process_tests {

using Clock = std::chrono::steady_clock;

inline long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The test binary's own process id.
inline uint32_t OwnId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<uint32_t>(getpid());
#endif
}

}  // namespace process_tests
