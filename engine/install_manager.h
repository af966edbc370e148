// The ordered queue of installation steps: their gathered licence text, disk
// need and progress weights, and the percentage the progress window shows.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/install_step.h"
#include "engine/pipeline_signals.h"
#include "platform/message_box.h"

namespace engine {

class InstallManager {
 public:
  // Every queued step is handed the run's context.
  explicit InstallManager(const RunContext& context);
  InstallManager(const InstallManager&) = delete;
  InstallManager& operator=(const InstallManager&) = delete;

  // Drops a step whose component is installed; otherwise queues it and counts
  // its weights, disk need and licence text.
  void AddStep(std::unique_ptr<InstallStep> step);
  void SetStatusText(const std::string& text) { statusText_ = text; }
  std::string StatusText() const { return statusText_; }
  std::string EulaText() const { return eulaText_; }

  // The sum of the steps' progress over the total weight, in whole percent.
  int OverallPercent();
  // Shows the percentage when the progress window is up and it changed.
  void RefreshProgress();

  // False when the system drive lacks room for the queued steps (the user was told).
  bool CheckDiskSpace();
  // Runs the DownloadThread and the InstallThread and waits for both.
  void RunPipeline();

  const std::vector<std::unique_ptr<InstallStep>>& steps() const { return steps_; }
  int requiredMegabytes() const { return requiredMegabytes_; }
  double totalWeight() const { return totalWeight_; }
  const RunContext& context() const { return context_; }
  PipelineSignals& signals() const { return context_.signals; }
  platform::MessageBoxes& boxes() const { return context_.boxes; }

 private:
  const RunContext& context_;
  std::vector<std::unique_ptr<InstallStep>> steps_;  // complete before the pipeline starts
  int requiredMegabytes_ = 0;
  int last_percent_ = 0;  // last shown, under percent_lock_; 0 is never shown
  std::string statusText_;
  std::string eulaText_;
  double totalWeight_ = 0.0;
  platform::Lock percent_lock_;  // both pipeline threads refresh the bar
};

}  // namespace engine
