// A progress window stand-in that records what the engine shows on it.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "engine/pipeline_signals.h"

class RecordingProgressView : public engine::ProgressView {
 public:
  void SetStatusLine(const std::string& text) override {
    std::lock_guard<std::mutex> guard(mutex_);
    status_.push_back(text);
  }
  void ShowPercent(int percent) override {
    std::lock_guard<std::mutex> guard(mutex_);
    percents_.push_back(percent);
  }
  void Close() override {
    std::lock_guard<std::mutex> guard(mutex_);
    ++closes_;
  }
  std::vector<std::string> status() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return status_;
  }
  std::vector<int> percents() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return percents_;
  }
  int closes() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return closes_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> status_;
  std::vector<int> percents_;
  int closes_ = 0;
};
