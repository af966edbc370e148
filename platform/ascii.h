// Case rules for the ASCII letters only: names of files, processes and
// registry keys compare this way whatever the locale, and bytes of 0x80 and
// above are left as they are.
#pragma once

#include <string>

namespace platform {

std::string AsciiUpper(std::string text);
std::string AsciiLower(std::string text);
bool EqualsIgnoringCase(const std::string& a, const std::string& b);
bool EndsWithIgnoringCase(const std::string& text, const std::string& tail);

}  // namespace platform
