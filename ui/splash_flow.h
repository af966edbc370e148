// The splash window's single timer tick: wait for the queued steps, then
// hand over to the licence window, or to the progress window when there is
// no licence to show.
#pragma once

#include <string>

namespace ui {

class WindowHost;

// What the flow asks of the splash window on screen.
class SplashControls {
 public:
  virtual ~SplashControls() = default;
  virtual void StopTimer() = 0;
  // Ends the splash window's modal loop.
  virtual void End() = 0;
  // Drops the splash picture, so the next window loads its background.
  virtual void EmptyBackground() = 0;
  // Each opens its window modally and returns when it has ended.
  virtual void ShowLicenceWindow(const std::string& licence_text) = 0;
  virtual void ShowProgressWindow() = 0;
};

// Blocks (without repainting) until the worker releases stepsReady.
void RunSplashTimer(SplashControls& splash, WindowHost& host);

}  // namespace ui
