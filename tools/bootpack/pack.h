// `bootpack pack`: appends files as payload entries to a bootstrapper stub.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace bootpack {

struct PackOptions {
  std::string stub;
  std::string out;
  bool replace = false;  // drop an existing payload and signature first
  bool force = false;    // pack a CONFIG.TXT with lint errors
  std::vector<std::string> files;
};

// The entry name for a file: its base name upper-cased. False, with the reason
// in `problem`, when that name is empty, longer than 127 bytes or not printable ASCII.
bool EntryNameFor(const std::string& path, std::string* name, std::string* problem);

// Writes OUT through a temporary file, so that a failed pack leaves no output.
// Returns 0 on success and 2 on a refusal or failure (reasons on `err`).
int Pack(const PackOptions& options, std::FILE* out, std::FILE* err);

int PackCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace bootpack
