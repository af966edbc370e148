// What the windows need from the session that runs them. The session fills it
// in before the splash starts; tests hand in a fake.
#pragma once

#include <string>

namespace diagnostics {
class EventSink;
}  // namespace diagnostics

namespace engine {
struct PipelineSignals;
}  // namespace engine

namespace payload {
class Settings;
}  // namespace payload

namespace ui {

class WindowHost {
 public:
  virtual ~WindowHost() = default;
  // The program's module (an HINSTANCE): dialog templates and button bitmaps.
  virtual void* Instance() = 0;
  // Where start-up extracted the pictures.
  virtual std::string WorkingDirectory() = 0;
  // The title of all three windows, computed at start-up; the licence
  // window computes it again and stores it here.
  virtual std::string WindowTitle() = 0;
  virtual void SetWindowTitle(const std::string& title) = 0;
  // What CONFIG.TXT set: the title's parts, the caption and the game's name.
  virtual const payload::Settings& ConfiguredSettings() = 0;
  // The queued steps' licence text; asked only after stepsReady.
  virtual std::string EulaText() = 0;
  // Ends the agent launcher and MiniServer processes.
  virtual void KillChildProcesses() = 0;
  // Makes shutdown offer the cancellation survey.
  virtual void SetCancelSurveyFlag() = 0;
  virtual engine::PipelineSignals& Signals() = 0;
  // Where the windows' events go.
  virtual diagnostics::EventSink& Events() = 0;
};

}  // namespace ui
