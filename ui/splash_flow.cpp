#include "ui/splash_flow.h"

#include "engine/pipeline_signals.h"
#include "ui/window_host.h"

namespace ui {

void RunSplashTimer(SplashControls& splash, WindowHost& host) {
  splash.StopTimer();
  host.Signals().stepsReady.Wait();
  const std::string licence_text = host.EulaText();
  splash.End();
  splash.EmptyBackground();
  if (!licence_text.empty()) {
    splash.ShowLicenceWindow(licence_text);
  } else {
    splash.ShowProgressWindow();
  }
}

}  // namespace ui
