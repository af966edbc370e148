// The two-thread pipeline: the DownloadThread fetches the installers one after
// the other while the InstallThread installs each as soon as it is there and
// the progress window is open.
#include "diagnostics/error_texts.h"
#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "engine/install_manager.h"

namespace engine {

namespace {

// A wait or a thread start failed: the run cannot go on. The failure is
// posted, and the installation abandoned so that the other thread ends too.
void SystemFailure(const RunContext& context, const char* what, uint32_t error) {
  PostSystemError(context.events, what, error);
  if (!context.signals.abortFlag.load()) AbortInstallation(context.signals);
}

// Waits for a step's semaphore or the abort, whichever comes first; true for
// the step's semaphore.
bool WaitForStepOrAbort(platform::BinarySemaphore& step, const RunContext& context,
                        const char* what) {
  PipelineSignals& signals = context.signals;
  uint32_t error = 0;
  const int taken = context.threads.WaitForEither(step, signals.abortSignal, &error);
  if (taken == platform::kWaitFailed) SystemFailure(context, what, error);
  // The abort is released once; passed on, it also wakes the other thread if
  // that one comes to wait for a step that will never be ready.
  if (taken == 1) signals.abortSignal.Release();
  return taken == 0;
}

void DownloadSteps(InstallManager& manager) {
  PipelineSignals& signals = manager.signals();
  const auto& steps = manager.steps();
  int gates = 0;
  for (size_t i = 0; i < steps.size(); ++i) {
    InstallStep& step = *steps[i];
    if (step.plan().waitLevel > gates) {
      // A gated step downloads only after the step before it has installed.
      if (i > 0 && !WaitForStepOrAbort(steps[i - 1]->progress().installDone, manager.context(),
                                       "Waiting for the previous installation")) {
        return;
      }
      ++gates;
    }
    if (step.Download() != 1) {
      if (!signals.abortFlag.load()) AbortInstallation(signals);
      return;
    }
  }
}

void InstallSteps(InstallManager& manager) {
  PipelineSignals& signals = manager.signals();
  // No abort here: installing starts only once the progress window is open.
  uint32_t error = 0;
  if (!manager.context().threads.Wait(signals.installGoAhead, &error)) {
    SystemFailure(manager.context(), "Waiting for the progress window", error);
    return;
  }
  if (ProgressView* window = signals.progressWindow.load()) {
    window->SetStatusLine(manager.StatusText());
  }
  for (const auto& step : manager.steps()) {
    if (!WaitForStepOrAbort(step->progress().downloadDone, manager.context(),
                            "Waiting for a download"))
      return;
    // With the download done and the abort both signalled the wait reports the
    // download: an installer that completed just as the person confirmed the
    // cancel must not be followed by the next one.
    if (signals.abortFlag.load()) return;
    if (step->Install() != 1) {
      if (!signals.abortFlag.load()) AbortInstallation(signals);
      return;
    }
  }
}

// An exception escaping a thread would end the process unlogged: it is
// posted and the installation abandoned, so the other thread and the worker
// go on to the end of the run.
template <void (*kThreadSteps)(InstallManager&)>
void GuardedThread(void* arg) {
  InstallManager& manager = *static_cast<InstallManager*>(arg);
  try {
    kThreadSteps(manager);
  } catch (...) {
    manager.context().events.Post(diagnostics::kExitedOnException);
    if (!manager.signals().abortFlag.load()) AbortInstallation(manager.signals());
  }
}

}  // namespace

void InstallManager::RunPipeline() {
  uint32_t error = 0;
  std::unique_ptr<platform::Thread> download =
      context_.threads.Start(&GuardedThread<DownloadSteps>, this, &error);
  if (!download) {
    SystemFailure(context_, "Starting the download thread", error);
    return;
  }
  std::unique_ptr<platform::Thread> install =
      context_.threads.Start(&GuardedThread<InstallSteps>, this, &error);
  if (!install) SystemFailure(context_, "Starting the install thread", error);
  download->Join();
  if (install) install->Join();
}

}  // namespace engine
