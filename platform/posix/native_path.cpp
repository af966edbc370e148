#include "platform/posix/native_path.h"

#include <limits.h>

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

std::string LogicPath(const std::string& native_path) {
  std::string roots[2] = {DriveRoot(), ""};
  char resolved[PATH_MAX];
  if (realpath(roots[0].c_str(), resolved)) roots[1] = resolved;
  for (const std::string& root : roots) {
    const size_t letter = root.size() + 1;
    if (root.empty() || native_path.compare(0, root.size(), root) != 0 ||
        native_path.size() <= letter || native_path[root.size()] != '/' ||
        !std::isalpha(static_cast<unsigned char>(native_path[letter])) ||
        (native_path.size() > letter + 1 && native_path[letter + 1] != '/')) {
      continue;
    }
    std::string logic = AsciiUpper(native_path.substr(letter, 1)) + ":\\";
    for (size_t at = letter + 2; at < native_path.size(); ++at) {
      logic += native_path[at] == '/' ? '\\' : native_path[at];
    }
    return logic;
  }
  return native_path;
}

}  // namespace platform
