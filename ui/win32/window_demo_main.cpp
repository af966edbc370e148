// Not part of the product: runs the window sequence with made-up data so the
// windows can be looked at (and driven) under Wine.
//   window_demo.exe FOLDER [--hold-at N] [--no-licence]
// FOLDER holds the pictures and, optionally, CONFIG.TXT and the licence texts
// of the demo payload. A stand-in worker queues nothing, releases the splash
// after a second and moves the bar to 100 % (or holds it at N % until the
// user cancels), then closes the progress window. Exit code 3 after a
// confirmed cancel, else 0.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "diagnostics/event_sink.h"
#include "engine/pipeline_signals.h"
#include "payload/settings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/sync.h"
#include "ui/window_host.h"
#include "ui/window_sequence.h"
#include "ui/window_title.h"

namespace {

// Empty when the file is missing.
std::string ReadText(const std::string& path) {
  std::string text;
  platform::ReadWholeFile(path, &text);
  return text;
}

// Set by WinMain before any thread starts; read-only afterwards.
payload::Settings demo_settings;

class DemoHost : public ui::WindowHost {
 public:
  DemoHost(HINSTANCE instance, const std::string& folder, bool licence)
      : instance_(instance), folder_(folder) {
    if (!licence) return;
    for (const char* name : {"TORVANEAGENTEULA.TXT", "DOTNETFRAMEWORKEULA.TXT",
                             "DOTNETFRAMEWORKSERVICEPACKEULA.TXT", "EULA.TXT"}) {
      const std::string text = ReadText(folder + "\\" + name);
      if (text.empty()) continue;
      if (!licence_.empty()) licence_ += "\r\n\r\n";
      licence_ += text;
    }
    if (licence_.empty()) licence_ = "Demo licence text.\r\n\r\nSecond paragraph.";
  }
  void* Instance() override { return instance_; }
  std::string WorkingDirectory() override { return folder_; }
  std::string WindowTitle() override { return title_; }
  void SetWindowTitle(const std::string& title) override { title_ = title; }
  const payload::Settings& ConfiguredSettings() override { return demo_settings; }
  std::string EulaText() override { return licence_; }
  void KillChildProcesses() override {}
  void SetCancelSurveyFlag() override { survey_flag = 1; }
  engine::PipelineSignals& Signals() override { return engine::GlobalPipelineSignals(); }
  // The demo keeps no log.
  diagnostics::EventSink& Events() override { return no_events_; }

  int survey_flag = 0;

 private:
  class NoEvents : public diagnostics::EventSink {
   public:
    void Post(diagnostics::EventId) override {}
  };
  NoEvents no_events_;
  HINSTANCE instance_;
  std::string folder_;
  std::string title_;
  std::string licence_;
};

int hold_at = 101;

void DemoWorker(void*) {
  engine::PipelineSignals& signals = engine::GlobalPipelineSignals();
  platform::SleepMs(1000);
  signals.stepsReady.Release();
  signals.installGoAhead.Wait();
  engine::ProgressView* window = signals.progressWindow.load();
  window->SetStatusLine("Requesting " + demo_settings.displayId() + " files...");
  for (int percent = 1; percent <= 100 && !signals.abortFlag.load(); ++percent) {
    if (percent > hold_at) {
      signals.abortSignal.Wait();
      break;
    }
    window->ShowPercent(percent);
    platform::SleepMs(40);
  }
  // A cancelled installation takes a moment to wind down.
  platform::SleepMs(signals.abortFlag.load() ? 1500 : 500);
  window->Close();
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (__argc < 2) {
    MessageBoxA(nullptr, "usage: window_demo FOLDER [--hold-at N] [--no-licence]", "window_demo",
                MB_OK);
    return 2;
  }
  const std::string folder = __argv[1];
  bool licence = true;
  for (int i = 2; i < __argc; ++i) {
    if (std::strcmp(__argv[i], "--hold-at") == 0 && i + 1 < __argc) hold_at = std::atoi(__argv[++i]);
    if (std::strcmp(__argv[i], "--no-licence") == 0) licence = false;
  }
  demo_settings = payload::ParseConfigurationText(ReadText(folder + "\\CONFIG.TXT")).settings;
  DemoHost host(instance, folder, licence);
  host.SetWindowTitle(ui::ComputeWindowTitle(demo_settings));
  platform::StartDetachedThread(&DemoWorker, nullptr);
  RunWindows(host);
  ui::ReleasePictures();
  return host.survey_flag ? 3 : 0;
}
