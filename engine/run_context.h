// What one run hands down from the session to everything below it: the
// signals of its threads, the system's services (the clock among them) and the
// engine's workers.
// RunSession builds it once (tests build their own); it and all it names
// outlive every thread of the run.
#pragma once

#include "engine/step_services.h"

namespace diagnostics {
class EventSink;
}  // namespace diagnostics

namespace platform {
class Clock;
class MessageBoxes;
class Registry;
class WindowsInstaller;
}  // namespace platform

namespace engine {

struct PipelineSignals;
class PipelineThreads;

struct RunContext {
  diagnostics::EventSink& events;
  PipelineSignals& signals;
  PipelineThreads& threads;  // how the pipeline starts its threads and waits
  platform::MessageBoxes& boxes;
  platform::Registry& registry;
  platform::WindowsInstaller& installer;
  platform::Clock& clock;  // what the steps' waits read and sleep on
  Downloader& downloader;
  InstallerRunner& installers;
};

}  // namespace engine
