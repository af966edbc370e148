// A window host for the flow tests: its own pipeline signals, the events
// sink the test gives it, and a record of what the windows asked of the
// session.
#pragma once

#include <atomic>
#include <string>

#include "diagnostics/event_sink.h"
#include "engine/pipeline_signals.h"
#include "payload/settings.h"
#include "ui/window_host.h"

class FakeWindowHost : public ui::WindowHost {
 public:
  explicit FakeWindowHost(diagnostics::EventSink& events) : events_(events) {}

  void* Instance() override { return nullptr; }
  std::string WorkingDirectory() override { return "C:\\Temp\\TorvaneInstaller"; }
  std::string WindowTitle() override { return title; }
  void SetWindowTitle(const std::string& text) override { title = text; }
  const payload::Settings& ConfiguredSettings() override { return settings; }
  std::string EulaText() override {
    ++eulaTextReads;
    return eulaText;
  }
  void KillChildProcesses() override { ++kills; }
  void SetCancelSurveyFlag() override { survey_flag = 1; }
  engine::PipelineSignals& Signals() override { return signals; }
  diagnostics::EventSink& Events() override { return events_; }

  engine::PipelineSignals signals;
  payload::Settings settings;
  std::string title;
  std::string eulaText;
  std::atomic<int> eulaTextReads{0};
  int kills = 0;
  int survey_flag = 0;

 private:
  diagnostics::EventSink& events_;
};
