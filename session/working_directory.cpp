#include "session/working_directory.h"

#include "platform/files.h"
#include "platform/system.h"

namespace session {

namespace {

// The error code is read at once: later calls may change it.
bool Failed(uint32_t* error) {
  if (error) *error = platform::LastErrorCode();
  return false;
}

}  // namespace

bool GetWorkingDirectory(std::string* path, uint32_t* error) {
  if (error) *error = 0;
  // TempFolder is empty when the path would not fit the 256-byte buffer.
  const std::string temp = platform::TempFolder();
  if (temp.empty() || !platform::IsFolder(temp)) return Failed(error);
  *path = temp + "TorvaneInstaller";
  return platform::PathExists(*path) || platform::CreateFolder(*path) || Failed(error);
}

}  // namespace session
