// `bootpack list` and `bootpack extract`: read the payload of a packed
// executable the way the bootstrapper does (backwards from the last marker,
// nothing after a signature).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace bootpack {

// Exit status: 0 listed, 1 no payload, 2 error.
int ListCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// Exit status: 0 extracted, 1 no payload, 2 error (a named entry missing, a write failed).
int ExtractCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// True when an entry name can be used as a file name inside the target folder
// (no separators, no drive, not "." or "..", printable ASCII, not empty).
bool IsSafeFileName(const std::string& name);

}  // namespace bootpack
