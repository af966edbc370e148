#include "engine/step_progress.h"

#include <ctime>
#include <utility>

#include "engine/step_plan.h"

namespace engine {

uint32_t NowSeconds() { return static_cast<uint32_t>(std::time(nullptr)); }

void StepProgress::Raise(SharedDouble& target, double value) {
  if (value <= 1.0 && value > target.load(std::memory_order_relaxed)) {
    target.store(value, std::memory_order_relaxed);
  }
}

double StepProgress::Weighted(const StepPlan& plan) {
  if (!plan.selfReportedProgress) {
    const int current = phase.load();
    if (current == 1) {
      const double total = bytesTotal.load(std::memory_order_relaxed);
      if (total != 0.0) Raise(downloadFraction, bytesReceived.load(std::memory_order_relaxed) / total);
    } else if (current == 2) {
      RaiseByInstallTime(plan);
    }
  }
  return installFraction.load(std::memory_order_relaxed) * plan.installWeight +
         downloadFraction.load(std::memory_order_relaxed) * plan.downloadWeight;
}

void StepProgress::RaiseByInstallTime(const StepPlan& plan) {
  if (plan.expectedInstallSeconds <= 0) return;
  const double elapsed = static_cast<double>(NowSeconds() - installStart.load());
  Raise(installFraction, elapsed / plan.expectedInstallSeconds);
}

void StepProgress::Notify() const {
  if (listener_) listener_();
}

ProgressListener StepProgress::ReplaceListener(ProgressListener listener) {
  ProgressListener previous = std::move(listener_);
  listener_ = std::move(listener);
  return previous;
}

}  // namespace engine
