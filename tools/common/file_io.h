// Ranged reads and whole-file writes over platform/files.h, for the tools.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tools {

// Reads `size` bytes at `offset`; false on a short read.
bool ReadAt(std::FILE* file, int64_t offset, uint32_t size, std::string* data);

// Writes `data` to `path` (created or truncated); false on any failure, in
// which case the partly written file is removed.
bool WriteWholeFile(const std::string& path, const std::string& data);

// The last path component, split at "/" and "\".
std::string BaseName(const std::string& path);

}  // namespace tools
