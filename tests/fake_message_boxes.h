// Message boxes that record what was asked and give a chosen answer.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/message_box.h"

class FakeMessageBoxes : public platform::MessageBoxes {
 public:
  struct Shown {
    std::string text;
    std::string title;
    unsigned style;
  };
  explicit FakeMessageBoxes(int answer = platform::kAnswerOk) : answer_(answer) {}
  int Show(const std::string& text, const std::string& title, unsigned style) override {
    std::lock_guard<std::mutex> guard(mutex_);
    shown_.push_back({text, title, style});
    return answer_;
  }
  std::vector<Shown> shown() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return shown_;
  }

 private:
  mutable std::mutex mutex_;
  int answer_;
  std::vector<Shown> shown_;
};
