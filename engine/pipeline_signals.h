// What connects the InstallWorker, its two pipeline threads and the windows.
// One process-wide instance serves the product; tests make their own.
#pragma once

#include <atomic>
#include <string>

#include "platform/sync.h"

namespace platform {
class HttpDownload;
}

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
  // The download in progress, so that a cancel ends a read that waits for the
  // server; null between downloads. Set and cleared by the DownloadThread,
  // used by AbortInstallation, both under transferLock.
  platform::HttpDownload* transfer = nullptr;
  platform::Lock transferLock;
};

PipelineSignals& GlobalPipelineSignals();

// Sets abortFlag and releases abortSignal, both once however often it is
// called, and cancels the download in progress.
void AbortInstallation(PipelineSignals& signals = GlobalPipelineSignals());
