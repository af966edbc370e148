#include "engine/install_step.h"

#include <utility>

namespace engine {

InstallStep::InstallStep(StepPlan plan) : plan_(std::move(plan)) {}

InstallStep::~InstallStep() = default;

int InstallStep::Download() { return DownloadFrom(plan_.url); }
int InstallStep::Install() { return RunPlannedInstaller(); }
bool InstallStep::IsInstalled() { return false; }
bool InstallStep::EulaComesFirst() { return false; }

void InstallStep::Attach(const RunContext& context, ProgressListener listener) {
  context_ = &context;
  progress_.ReplaceListener(std::move(listener));
}

int InstallStep::DownloadFrom(const std::string& url) {
  return context_->downloader.Download(plan_, url, progress_, *context_);
}

int InstallStep::RunPlannedInstaller() {
  return context_->installers.Run(plan_, progress_, *context_);
}

}  // namespace engine
