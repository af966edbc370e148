// The MiniServer: a local installer under ".\launcher" that, when present,
// runs instead of the agent launcher and is watched the same way.
#pragma once

#include <string>

#include "components/launcher_watch_step.h"
#include "diagnostics/event_sink.h"

namespace components {

class MiniServerStep : public LauncherWatchStep {
 public:
  MiniServerStep(const char* eulaText, const std::string& outputFolder);

  // 1 when the MiniServer has ended, 7501 when it cannot start, 9064 when abandoned.
  int Install() override;

 private:
  // The installation is being abandoned (a cancel, or an Error line): 9064.
  int Abandoned();
};

// Whether ".\launcher\miniserver.exe" exists in the current folder; posts 7500 if so.
bool IsMiniServerPresent(diagnostics::EventSink& events);

}  // namespace components
