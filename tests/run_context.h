// A run's context for a test: the product's downloader, installer runner and
// pipeline threads beside the test's own signals and message boxes, and the
// registry and Windows Installer the test hands in (empty fakes otherwise),
// and the system's clock.
#pragma once

#include <memory>

#include "engine/downloader.h"
#include "engine/install_manager.h"
#include "engine/pipeline_signals.h"
#include "engine/process_runner.h"
#include "engine/run_context.h"
#include "platform/clock.h"
#include "tests/discarded_events.h"
#include "tests/fake_registry.h"
#include "tests/fake_windows_installer.h"

class TestRunContext {
 public:
  // `events` null: the events are discarded.
  TestRunContext(diagnostics::EventSink* events, engine::PipelineSignals& signals,
                 platform::MessageBoxes& boxes, platform::Registry* registry = nullptr,
                 platform::WindowsInstaller* installer = nullptr,
                 engine::PipelineThreads* threads = nullptr)
      : context_{events ? *events : discarded_,
                 signals,
                 threads ? *threads : threads_,
                 boxes,
                 registry ? *registry : registry_,
                 installer ? *installer : installer_,
                 platform::SystemClock(),
                 downloader_,
                 installers_} {}
  TestRunContext(const TestRunContext&) = delete;
  TestRunContext& operator=(const TestRunContext&) = delete;

  const engine::RunContext& context() const { return context_; }

 private:
  DiscardedEvents discarded_;
  engine::PipelineThreads threads_;
  FakeRegistry registry_;
  FakeWindowsInstaller installer_;
  engine::HttpDownloader downloader_;
  engine::ProcessInstallerRunner installers_;
  engine::RunContext context_;  // last: it names the others
};

// Queues a plain step with `plan` (one that reports itself not installed) and
// returns it.
inline engine::InstallStep& Queued(engine::InstallManager& manager, const engine::StepPlan& plan) {
  auto step = std::make_unique<engine::InstallStep>(plan);
  engine::InstallStep& queued = *step;
  manager.AddStep(std::move(step));
  return queued;
}
