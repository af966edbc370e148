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

class FakeWindowHost : public WindowHost {
 public:
  explicit FakeWindowHost(EventSink& events) : events_(events) {}

  void* Instance() override { return nullptr; }
  std::string WorkingDirectory() override { return "C:\\Temp\\TorvaneInstaller"; }
  std::string WindowTitle() override { return title; }
  void SetWindowTitle(const std::string& text) override { title = text; }
  const Settings& ConfiguredSettings() override { return settings; }
  std::string EulaText() override {
    ++eulaTextReads;
    return eulaText;
  }
  void KillChildProcesses() override { ++kills; }
  void SetCancelSurveyFlag() override { survey_flag = 1; }
  PipelineSignals& Signals() override { return signals; }
  EventSink& Events() override { return events_; }

  PipelineSignals signals;
  Settings settings;
  std::string title;
  std::string eulaText;
  std::atomic<int> eulaTextReads{0};
  int kills = 0;
  int survey_flag = 0;

 private:
  EventSink& events_;
};
