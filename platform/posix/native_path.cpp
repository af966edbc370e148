#include "platform/posix/native_path.h"

#include <cctype>
#include <cstdlib>

#include "platform/ascii.h"

namespace platform {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string DriveRoot() {
  const char* root = std::getenv("KESTREL_DRIVE_ROOT");
  std::string result = (root && *root) ? root : "/tmp/kestrel-drive";
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

}  // namespace

std::string NativePath(const std::string& logic_path) {
  std::string source = logic_path;
  std::string result;
  if (source.size() >= 2 && std::isalpha(static_cast<unsigned char>(source[0])) &&
      source[1] == ':' && (source.size() == 2 || IsSeparator(source[2]))) {
    result = DriveRoot() + '/' + AsciiLower(source.substr(0, 1));
    source.erase(0, 2);
  } else if (!source.empty() && source[0] == '\\' && (source.size() == 1 || source[1] != '\\')) {
    // "\rest" is rooted on the current drive, which is C: here; never the
    // host's own root.
    result = DriveRoot() + "/c";
  }
  for (char c : source) {
    if (IsSeparator(c)) {
      if (!result.empty() && result.back() == '/') continue;
      result += '/';
    } else {
      result += c;
    }
  }
  return result;
}

}  // namespace platform
