// What the benchmarks hand the engine in place of the windows.
#pragma once

#include <string>

#include "engine/pipeline_signals.h"
#include "platform/message_box.h"

namespace bench {

// A progress window that only counts: the downloader's refresh runs in full.
class CountingView : public engine::ProgressView {
 public:
  void SetStatusLine(const std::string&) override {}
  void ShowPercent(int) override { ++shown; }
  void Close() override {}
  int shown = 0;
};

class NoBoxes : public platform::MessageBoxes {
 public:
  int Show(const std::string&, const std::string&, unsigned) override {
    return platform::kAnswerOk;
  }
};

}  // namespace bench
