#include "engine/install_step.h"

#include <ctime>

#include "engine/downloader.h"
#include "engine/file_md5.h"
#include "engine/install_manager.h"
#include "engine/pipeline_signals.h"
#include "engine/process_runner.h"
#include "platform/files.h"
#include "platform/message_box.h"

uint32_t NowSeconds() { return static_cast<uint32_t>(std::time(nullptr)); }

InstallStep::InstallStep(const char* eulaText)
    : eulaText(eulaText),
      signals_(&GlobalPipelineSignals()),
      messageBoxes_(&platform::SystemMessageBoxes()) {}

InstallStep::InstallStep(const char* eulaText, const std::string& url,
                         const std::string& directory, const std::string& fileName,
                         const std::string& md5)
    : InstallStep(eulaText) {
  this->url = url;
  this->fileName = fileName;
  this->md5 = md5;
  localPath = directory;
  availableLocally = FindLocalCopy(directory);
}

InstallStep::~InstallStep() = default;

int InstallStep::Download() { return DownloadFile(*this); }
int InstallStep::Install() { return RunInstaller(*this); }
bool InstallStep::IsInstalled() { return false; }
bool InstallStep::EulaComesFirst() { return false; }

bool InstallStep::FindLocalCopy(const std::string& directory) {
  localPath = platform::JoinPath(directory, fileName);
  const std::string prereq = "prereq\\" + fileName;
  if (platform::PathExists(prereq) && !Md5Differs(prereq, md5)) {
    localPath = prereq;
    return true;
  }
  return platform::PathExists(localPath) && !Md5Differs(localPath, md5);
}

void InstallStep::RaiseFraction(SharedDouble& target, double value) {
  if (value <= 1.0 && value > target.load(std::memory_order_relaxed)) {
    target.store(value, std::memory_order_relaxed);
  }
}

double InstallStep::StepProgress() {
  if (!selfReportedProgress) {
    const int current = phase.load();
    if (current == 1) {
      const double total = bytesTotal.load(std::memory_order_relaxed);
      if (total != 0.0) {
        RaiseFraction(downloadFraction, bytesReceived.load(std::memory_order_relaxed) / total);
      }
    } else if (current == 2 && expectedInstallSeconds > 0) {
      const double elapsed = static_cast<double>(NowSeconds() - installStart.load());
      RaiseFraction(installFraction, elapsed / expectedInstallSeconds);
    }
  }
  return installFraction.load(std::memory_order_relaxed) * installWeight +
         downloadFraction.load(std::memory_order_relaxed) * downloadWeight;
}

void InstallStep::NotifyProgress() {
  if (progressListener_) progressListener_();
}

void InstallStep::Attach(ProgressListener listener, PipelineSignals* signals,
                         platform::MessageBoxes* boxes) {
  progressListener_ = std::move(listener);
  signals_ = signals;
  messageBoxes_ = boxes;
}

ProgressListener InstallStep::ReplaceProgressListener(ProgressListener listener) {
  ProgressListener previous = std::move(progressListener_);
  progressListener_ = std::move(listener);
  return previous;
}
