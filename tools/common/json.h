// JSON text for the tools' --json output.
#pragma once

#include <string>

namespace tools {

// `text` as a JSON string in plain ASCII. Texts are 8-bit ANSI: every byte
// outside printable ASCII keeps its number as the code point (\u00XX).
std::string JsonString(const std::string& text);

}  // namespace tools
