#include "platform/shell.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

bool ShellOpen(const std::string& file, const std::string& parameters, bool hidden) {
  const char* log = std::getenv("KESTREL_SHELL_LOG");
  if (!log) return true;
  std::FILE* out = std::fopen(log, "a");
  if (!out) return false;
  std::fprintf(out, "%s|%s|%s\n", file.c_str(), parameters.c_str(), hidden ? "hidden" : "shown");
  std::fclose(out);
  return true;
}

}  // namespace platform
