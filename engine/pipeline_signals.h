// What connects the InstallWorker, its two pipeline threads and the windows.
// One process-wide instance serves the product (made once, never destroyed:
// the threads that use it are not all joined); tests make their own.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/sync.h"

namespace platform {
class HttpDownload;
}  // namespace platform

namespace engine {

// The progress window as the engine sees it. Calls come from worker-side
// threads and are carried out synchronously on the window's thread.
class ProgressView {
 public:
  virtual ~ProgressView() = default;
  virtual void SetStatusLine(const std::string& text) = 0;
  // The whole installation's progress, 0..100; the window words it.
  virtual void ShowPercent(int percent) = 0;
  // Destroys the window, which ends the window sequence.
  virtual void Close() = 0;
};

// How the pipeline starts its threads and waits: the system's calls, or a
// test's that fail as the system may (handles run out, a thread cannot start).
class PipelineThreads {
 public:
  virtual ~PipelineThreads() = default;
  // platform::WaitForEither without a time limit.
  virtual int WaitForEither(platform::Waitable& first, platform::Waitable& second, uint32_t* error);
  // Waitable::Wait without a time limit.
  virtual bool Wait(platform::Waitable& object, uint32_t* error);
  // Null, with the system's error code, when the thread cannot start.
  virtual std::unique_ptr<platform::Thread> Start(platform::ThreadProc proc, void* arg,
                                                  uint32_t* error);
};

// The system's; never destroyed.
PipelineThreads& SystemPipelineThreads();

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
  // used by AbortInstallation, both under transfer_lock.
  platform::HttpDownload* transfer = nullptr;
  platform::Lock transfer_lock;
};

PipelineSignals& GlobalPipelineSignals();

// Sets abortFlag and releases abortSignal, both once however often it is
// called, and cancels the download in progress.
void AbortInstallation(PipelineSignals& signals);

}  // namespace engine
