// One run of the bootstrapper from start-up to shutdown: the single-copy and
// system checks, the working directory and logger, the payload and settings,
// the worker, the window sequence, then the orderly end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/pipeline_signals.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/msi.h"
#include "platform/registry.h"

namespace components {
struct InstallSession;
}  // namespace components

namespace ui {
class WindowHost;
}  // namespace ui

namespace session {

struct SessionOptions {
  void* instance = nullptr;  // the program's module
  // The single-instance mutex's creation status (183: another copy runs).
  unsigned long instance_mutex_status = 0;
  // Shows the splash and the windows after it, then runs the message loop;
  // returns the loop's quit code. Null: no windows (tests).
  std::function<int(ui::WindowHost& host)> run_windows;
  // Frees what the windows shared.
  std::function<void()> release_pictures;
  // Starts the InstallWorker; false, with the system's error code, when it
  // could not start. Empty: a detached thread.
  std::function<bool(components::InstallSession* session, uint32_t* error)> start_worker;
  // What the run hands down: the system's own from the entry, a test's fakes.
  // All must outlive the run's threads.
  platform::MessageBoxes* boxes = nullptr;
  engine::PipelineSignals* signals = nullptr;
  engine::PipelineThreads* threads = nullptr;
  platform::Registry* registry = nullptr;
  platform::WindowsInstaller* installer = nullptr;
  platform::Clock* clock = nullptr;
  std::string executable_path;    // empty: the running executable's payload
  std::string* run_id = nullptr;  // tests: given the run's id once the logger is made
};

// Returns the process exit code: 0 on every early exit, else the quit code.
int RunSession(const SessionOptions& options);

}  // namespace session
