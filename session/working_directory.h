// The working directory: "TorvaneInstaller" in the user's temporary folder.
// Never deleted, so downloaded installers are found again by a later run.
#pragma once

#include <cstdint>
#include <string>

namespace session {

// Makes the folder if needed; false when the temporary folder is unknown or
// the folder cannot be made, with the system's error code of the call that
// failed in `error` when given.
bool GetWorkingDirectory(std::string* path, uint32_t* error = nullptr);

}  // namespace session
