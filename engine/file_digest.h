// Digests of installer files.
#pragma once

#include <string>

#include "platform/digest.h"

namespace engine {

// The lower-case hex digest, or "ERROR_FILE" (cannot open) / "ERROR_HASH".
std::string FileDigest(const std::string& path, platform::DigestAlgorithm algorithm);
std::string FileMd5(const std::string& path);

// False when `expected` is empty (no digest configured); otherwise whether the
// file's digest differs from it, character for character.
bool DigestDiffers(const std::string& path, platform::DigestAlgorithm algorithm,
                   const std::string& expected);
bool Md5Differs(const std::string& path, const std::string& expected);

}  // namespace engine
