#include "session/working_directory.h"

#include "platform/files.h"

bool GetWorkingDirectory(std::string* path) {
  // TempFolder is empty when the path would not fit the 256-byte buffer.
  const std::string temp = platform::TempFolder();
  if (temp.empty() || !platform::IsFolder(temp)) return false;
  *path = temp + "TorvaneInstaller";
  return platform::PathExists(*path) || platform::CreateFolder(*path);
}
