// Handing a program or an address to the system's default handler.
#pragma once

#include <string>

namespace platform {

// ShellExecuteA with the "open" verb and no owner window; true when the
// system started it. `hidden` starts a program without showing its window.
// On posix nothing is started: the request is appended to the file named by
// $KESTREL_SHELL_LOG (if set) and counts as started.
bool ShellOpen(const std::string& file, const std::string& parameters, bool hidden);

}  // namespace platform
