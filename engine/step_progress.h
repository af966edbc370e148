// How far one step has come: its phase, fractions and byte counts, the
// semaphores that say its download and install are done, and the listener
// that the bar's refresh hangs on. Each value has one writing thread; the
// bar's refresh reads them from either pipeline thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "platform/sync.h"

namespace engine {

struct StepPlan;

// Told whenever a step's progress may have moved; called from the pipeline threads.
using ProgressListener = std::function<void()>;

// A fraction or counter written by one pipeline thread and read by others; a
// stale read only delays the bar.
using SharedDouble = std::atomic<double>;

class StepProgress {
 public:
  // 0 queued, 1 downloading (the DownloadThread), 2 installing and 3
  // installed (the InstallThread).
  std::atomic<int> phase{0};
  SharedDouble downloadFraction{0.0};      // the DownloadThread
  SharedDouble bytesReceived{0.0};         // the DownloadThread
  SharedDouble bytesTotal{0.0};            // the DownloadThread
  SharedDouble installFraction{0.0};       // the InstallThread
  std::atomic<uint32_t> installStart{0};   // the InstallThread; seconds
  platform::BinarySemaphore downloadDone;  // released once the installer file is there
  platform::BinarySemaphore installDone;   // released once the install succeeded

  // Stores `value` only when it is at most 1.0 and above the current value.
  static void Raise(SharedDouble& target, double value);
  // installFraction x installWeight + downloadFraction x downloadWeight, after
  // raising the fractions from the bytes and seconds seen so far.
  double Weighted(const StepPlan& plan);
  // Raises installFraction by the seconds since installStart against the
  // plan's expected install time (an installer tells nothing of its own).
  void RaiseByInstallTime(const StepPlan& plan);
  void Notify() const;
  // Replaces the listener and returns the one it had. Set before the
  // pipeline starts (AddStep, or a test that watches a step).
  ProgressListener ReplaceListener(ProgressListener listener);

 private:
  ProgressListener listener_;
};

// Whole seconds of the wall clock, for installStart.
uint32_t NowSeconds();

}  // namespace engine
