// What connects the InstallWorker, its two pipeline threads and the windows.
// One process-wide instance serves the product (made once, never destroyed:
// the threads that use it are not all joined); tests make their own.
#pragma once

#include <atomic>
#include <string>

#include "platform/sync.h"

// The progress window as the engine sees it. Calls come from worker-side
// threads and are carried out synchronously on the window's thread.
class ProgressView {
 public:
  virtual ~ProgressView() = default;
  virtual void SetStatusLine(const std::string& text) = 0;
  virtual void ShowPercent(const std::string& text) = 0;
  // Destroys the window, which ends the window sequence.
  virtual void Close() = 0;
};

struct PipelineSignals {
  // Released once by the worker after the last step was queued; the splash waits.
  platform::BinarySemaphore stepsReady;
  // Released once by the progress window when it is on screen; the InstallThread waits.
  platform::BinarySemaphore installGoAhead;
  // Released once by AbortInstallation; wakes one waiting pipeline thread.
  platform::BinarySemaphore abortSignal;
  // 0 until the installation is abandoned (a confirmed cancel or a failed step).
  std::atomic<char> abortFlag{0};
  // Set by the progress window when it opens; null before.
  std::atomic<ProgressView*> progressWindow{nullptr};
};

PipelineSignals& GlobalPipelineSignals();

// Sets abortFlag and releases abortSignal, both once however often it is called.
void AbortInstallation(PipelineSignals& signals = GlobalPipelineSignals());
