#include "engine/install_manager.h"

namespace engine {

namespace {

void TrimBlanks(std::string* text) {
  const char* blanks = " \r\n\t";
  const size_t first = text->find_first_not_of(blanks);
  if (first == std::string::npos) {
    text->clear();
    return;
  }
  const size_t last = text->find_last_not_of(blanks);
  *text = text->substr(first, last - first + 1);
}

}  // namespace

InstallManager::InstallManager(const RunContext& context) : context_(context) {}

void InstallManager::AddStep(std::unique_ptr<InstallStep> step) {
  // Attached first: the check may abandon the installation or show a box.
  step->Attach(context_, [this] { RefreshProgress(); });
  if (step->IsInstalled()) return;  // installed: no licence, weight or disk need
  const StepPlan& plan = step->plan();
  totalWeight_ += plan.downloadWeight + plan.installWeight;
  requiredMegabytes_ += plan.requiredMegabytes;
  if (plan.eulaText) {
    const std::string text = plan.eulaText;
    if (eulaText_.empty()) {
      eulaText_ = text;
    } else if (step->EulaComesFirst()) {
      eulaText_ = text + "\r\n\r\n" + eulaText_;
    } else {
      eulaText_ = eulaText_ + "\r\n\r\n" + text;
    }
    TrimBlanks(&eulaText_);
  }
  steps_.push_back(std::move(step));
}

int InstallManager::OverallPercent() {
  if (totalWeight_ <= 0.0) return 0;
  double sum = 0.0;
  for (const auto& step : steps_) sum += step->WeightedProgress();
  return static_cast<int>(sum / totalWeight_ * 100.0);
}

void InstallManager::RefreshProgress() {
  ProgressView* window = context_.signals.progressWindow.load();
  if (!window) return;
  // Both pipeline threads refresh the bar; the lock keeps the same
  // percentage from being shown twice.
  platform::LockGuard guard(percent_lock_);
  const int percent = OverallPercent();
  if (percent < 1 || percent > 100) return;
  if (last_percent_ == percent) return;
  last_percent_ = percent;
  window->ShowPercent(percent);
}

}  // namespace engine
