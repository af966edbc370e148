#include "platform/shell.h"

#include <windows.h>
#include <shellapi.h>

namespace platform {

bool ShellOpen(const std::string& file, const std::string& parameters, bool hidden) {
  HINSTANCE result = ShellExecuteA(NULL, "open", file.c_str(),
                                   parameters.empty() ? NULL : parameters.c_str(), "",
                                   hidden ? SW_HIDE : SW_SHOWNORMAL);
  // Values above 32 mean the program or document was opened.
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace platform
