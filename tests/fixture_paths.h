// The Windows fixture programs and packages, built into "fixtures" beside the
// unit-test executable (tests/fixtures/CMakeLists.txt).
#pragma once

#include <string>

#include "platform/files.h"
#include "tests/test_paths.h"

namespace test_paths {

inline std::string FixturePath(const std::string& name) {
  const std::string self = platform::ExecutablePath();
  return self.substr(0, self.find_last_of("\\/") + 1) + "fixtures\\" + name;
}

// Copies a fixture to `path` (so that side files beside the copy steer it).
inline bool CopyFixture(const std::string& name, const std::string& path) {
  std::string bytes;
  return ReadWholeFile(FixturePath(name), &bytes) && WriteWholeFile(path, bytes);
}

}  // namespace test_paths
