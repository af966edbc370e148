// One installable component: where its installer comes from, where it is kept,
// how it is verified and run, and how much it weighs in the progress bar.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/downloader.h"
#include "platform/sync.h"

struct PipelineSignals;
namespace platform {
class MessageBoxes;
}

// Told whenever a step's progress may have moved; called from the pipeline threads.
using ProgressListener = std::function<void()>;

// A fraction or counter written by one pipeline thread and read by others; a
// stale read only delays the bar.
using SharedDouble = std::atomic<double>;

class InstallStep {
 public:
  explicit InstallStep(const char* eulaText);
  // The download form. The digest is known before the local search, so a
  // partial or stale file is never taken for a local copy when one is configured.
  InstallStep(const char* eulaText, const std::string& url, const std::string& directory,
              const std::string& fileName, const std::string& md5 = std::string());
  virtual ~InstallStep();
  InstallStep(const InstallStep&) = delete;
  InstallStep& operator=(const InstallStep&) = delete;

  // 1 on success, otherwise a failure code (an event id or an exit code).
  virtual int Download();
  virtual int Install();
  virtual bool IsInstalled();
  // Puts this step's licence text in front of the texts gathered so far.
  virtual bool EulaComesFirst();

  // installFraction x installWeight + downloadFraction x downloadWeight,
  // after raising the fractions from the bytes and seconds seen so far.
  double StepProgress();
  // Stores `value` only when it is at most 1.0 and above the current value.
  static void RaiseFraction(SharedDouble& target, double value);
  void NotifyProgress();

  // Where `fileName` is found already: ".\prereq\" first, then the directory.
  bool FindLocalCopy(const std::string& directory);

  PipelineSignals& signals() const { return *signals_; }
  platform::MessageBoxes& messageBoxes() const { return *messageBoxes_; }
  // Set by AddStep: the manager's listener, signals and boxes replace the
  // process-wide ones.
  void Attach(ProgressListener listener, PipelineSignals* signals, platform::MessageBoxes* boxes);
  // Replaces the listener and returns the one it had (tests that watch a step).
  ProgressListener ReplaceProgressListener(ProgressListener listener);

  int waitLevel = 0;
  std::atomic<int> phase{0};  // 0 queued, 1 downloading, 2 installing, 3 installed
  int selfReportedProgress = 0;
  double downloadWeight = 1.0;
  double installWeight = 1.0;
  int requiredMegabytes = 0;
  bool availableLocally = false;
  SharedDouble downloadFraction{0.0};
  SharedDouble installFraction{0.0};
  SharedDouble bytesReceived{0.0};
  SharedDouble bytesTotal{0.0};
  std::atomic<uint32_t> installStart{0};  // seconds
  int expectedInstallSeconds = 0;
  std::string displayName;
  std::string fileName;
  std::string url;
  std::string localPath;
  std::string md5;
  // Set by the steps whose configured digest the downloaded file must match;
  // the agent package has a key in the file but is never compared with it.
  bool verifyDigest = false;
  // What a downloaded file must begin with (empty: anything). Set by a step
  // without a digest, so a captive portal's page is not handed to its installer.
  std::string leadingBytes;
  std::string commandLine;
  const char* eulaText = nullptr;          // owned by the payload reader
  platform::BinarySemaphore downloadDone;  // released once the installer file is there
  platform::BinarySemaphore installDone;   // released once the install succeeded
  DownloadTiming downloadTiming;

 private:
  ProgressListener progressListener_;  // set before the pipeline starts
  PipelineSignals* signals_;
  platform::MessageBoxes* messageBoxes_;
};

// Whole seconds of the wall clock, for installStart.
uint32_t NowSeconds();
