// A Windows Installer that answers from a table the test fills, or acts as if
// its library or query function were missing; it records the codes asked.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/msi.h"

class FakeWindowsInstaller : public platform::WindowsInstaller {
 public:
  // A product not in the table answers -1 (INSTALLSTATE_UNKNOWN).
  void SetState(const std::string& productCode, int state) {
    std::lock_guard<std::mutex> guard(mutex_);
    states_[productCode] = state;
  }
  // Every later query fails with this outcome and system error code.
  void FailWith(Outcome outcome, uint32_t error) {
    std::lock_guard<std::mutex> guard(mutex_);
    outcome_ = outcome;
    error_ = error;
  }
  Outcome QueryProductState(const std::string& productCode, int* state, uint32_t* error) override {
    std::lock_guard<std::mutex> guard(mutex_);
    queries_.push_back(productCode);
    if (outcome_ != Outcome::kAnswered) {
      *error = error_;
      return outcome_;
    }
    auto found = states_.find(productCode);
    *state = found == states_.end() ? -1 : found->second;
    return Outcome::kAnswered;
  }
  std::vector<std::string> queries() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return queries_;
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, int> states_;
  Outcome outcome_ = Outcome::kAnswered;
  uint32_t error_ = 0;
  std::vector<std::string> queries_;
};
