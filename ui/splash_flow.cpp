#include "ui/splash_flow.h"

#include "engine/pipeline_signals.h"
#include "ui/window_host.h"

void RunSplashTimer(SplashControls& splash, WindowHost& host) {
  splash.StopTimer();
  host.Signals().stepsReady.Wait();
  const std::string licenceText = host.EulaText();
  splash.End();
  splash.EmptyBackground();
  if (!licenceText.empty()) {
    splash.ShowLicenceWindow(licenceText);
  } else {
    splash.ShowProgressWindow();
  }
}
