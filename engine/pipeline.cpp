// The two-thread pipeline: the DownloadThread fetches the installers one after
// the other while the InstallThread installs each as soon as it is there and
// the progress window is open.
#include "engine/install_manager.h"

namespace {

// Waits for a step's semaphore or the abort, whichever comes first; true for
// the step's semaphore.
bool WaitForStepOrAbort(platform::BinarySemaphore& step, PipelineSignals& signals) {
  return platform::WaitForEither(step, signals.abortSignal) == 0;
}

void DownloadThread(void* arg) {
  InstallManager& manager = *static_cast<InstallManager*>(arg);
  PipelineSignals& signals = manager.signals();
  const auto& steps = manager.steps();
  int gates = 0;
  for (size_t i = 0; i < steps.size(); ++i) {
    InstallStep& step = *steps[i];
    if (step.waitLevel > gates) {
      // A gated step downloads only after the step before it has installed.
      if (i > 0 && !WaitForStepOrAbort(steps[i - 1]->installDone, signals)) return;
      ++gates;
    }
    if (step.Download() != 1) {
      if (!signals.abortFlag.load()) AbortInstallation(signals);
      return;
    }
  }
}

void InstallThread(void* arg) {
  InstallManager& manager = *static_cast<InstallManager*>(arg);
  PipelineSignals& signals = manager.signals();
  // No abort here: installing starts only once the progress window is open.
  signals.installGoAhead.Wait();
  if (ProgressView* window = signals.progressWindow.load()) {
    window->SetStatusLine(manager.StatusText());
  }
  for (const auto& step : manager.steps()) {
    if (!WaitForStepOrAbort(step->downloadDone, signals)) return;
    if (step->Install() != 1) {
      if (!signals.abortFlag.load()) AbortInstallation(signals);
      return;
    }
  }
}

}  // namespace

void InstallManager::RunPipeline() {
  platform::Thread download(&DownloadThread, this);
  platform::Thread install(&InstallThread, this);
  download.Join();
  install.Join();
}
