// The posix build's boundary between the logic's Windows paths and native ones.
#pragma once

#include <string>

namespace platform {

// Backslashes become '/', repeated separators collapse, and a drive path
// "X:\rest" maps to "$KESTREL_DRIVE_ROOT/x/rest" (default root
// "/tmp/kestrel-drive"; the variable is read at each call). A path rooted on
// the current drive, "\rest", is taken as "C:\rest". As on Windows, the
// drive itself is not created by the file functions: "$root/x" must exist.
std::string NativePath(const std::string& logic_path);

// The other way, for an absolute native path: "$KESTREL_DRIVE_ROOT/x/rest"
// gives "X:\rest" (the root compared as it is and as realpath gives it);
// any other path is returned as it is, a place on no drive.
std::string LogicPath(const std::string& native_path);

}  // namespace platform
