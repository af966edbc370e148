// MD5 digests of installer files.
#pragma once

#include <string>

namespace engine {

// 32 lower-case hex digits, or "ERROR_FILE" (cannot open) / "ERROR_HASH".
std::string FileMd5(const std::string& path);
// False when `expected` is empty (no digest configured); otherwise whether the
// file's digest differs from it, character for character.
bool Md5Differs(const std::string& path, const std::string& expected);

}  // namespace engine
