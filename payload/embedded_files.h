// Files of the payload that are written into the working directory.
#pragma once

#include <string>

namespace diagnostics {
class EventSink;
}  // namespace diagnostics

namespace payload {

class PayloadReader;

// Writes the window pictures into the working directory at start-up; a picture
// missing from the payload removes a stale copy. A failed write posts its event
// (3014-3018) and the next picture is still tried. Does nothing without a
// working directory.
void extractEmbeddedFiles(const PayloadReader& reader, const std::string& working_directory,
                          diagnostics::EventSink& events);

// Writes the embedded .NET Framework and Service Pack installers, when the
// payload has them, so that their steps find local copies. Failures are silent:
// the step then downloads the file.
void SaveOptionalInstallers(const PayloadReader& reader, const std::string& working_directory);

}  // namespace payload
