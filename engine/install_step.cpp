#include "engine/install_step.h"

#include <utility>

InstallStep::InstallStep(StepPlan plan) : plan_(std::move(plan)) {}

InstallStep::~InstallStep() = default;

int InstallStep::Download() { return DownloadFrom(plan_.url); }
int InstallStep::Install() { return RunPlannedInstaller(); }
bool InstallStep::IsInstalled() { return false; }
bool InstallStep::EulaComesFirst() { return false; }

void InstallStep::Attach(const StepServices& services, ProgressListener listener) {
  services_ = &services;
  progress_.ReplaceListener(std::move(listener));
}

int InstallStep::DownloadFrom(const std::string& url) {
  return services_->downloader.Download(plan_, url, progress_, services_->signals);
}

int InstallStep::RunPlannedInstaller() {
  return services_->installers.Run(plan_, progress_, services_->signals, services_->boxes);
}
