// One installable component: its plan, fixed once it is queued, its
// progress, and the four operations a component may specialise.
#pragma once

#include <string>

#include "engine/run_context.h"
#include "engine/step_plan.h"
#include "engine/step_progress.h"

namespace engine {

class InstallStep {
 public:
  explicit InstallStep(StepPlan plan);
  virtual ~InstallStep();
  InstallStep(const InstallStep&) = delete;
  InstallStep& operator=(const InstallStep&) = delete;

  // 1 on success, otherwise a failure code (an event id or an exit code). By
  // default the plan's installer is fetched from its address and run.
  virtual int Download();
  virtual int Install();
  virtual bool IsInstalled();
  // Puts this step's licence text in front of the texts gathered so far.
  virtual bool EulaComesFirst();

  const StepPlan& plan() const { return plan_; }
  StepProgress& progress() { return progress_; }
  // The step's share of the bar, in units of its weights.
  double WeightedProgress() { return progress_.Weighted(plan_); }
  // Set by AddStep: the run's context and the manager's progress listener.
  void Attach(const RunContext& context, ProgressListener listener);
  const RunContext& context() const { return *context_; }
  PipelineSignals& signals() const { return context_->signals; }
  platform::MessageBoxes& boxes() const { return context_->boxes; }
  diagnostics::EventSink& events() const { return context_->events; }

  // The plan's installer from `url` (the primary or a fall-back address),
  // through the manager's downloader.
  int DownloadFrom(const std::string& url);
  // The plan's installer run and waited for, through the manager's runner.
  int RunPlannedInstaller();

 protected:
  StepPlan plan_;  // the constructors of the concrete steps fill it in
  StepProgress progress_;

 private:
  const RunContext* context_ = nullptr;  // set before the pipeline starts
};

}  // namespace engine
