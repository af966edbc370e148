// The program's entry: it only sets up what must exist before anything runs
// and hands over to the session.
#include <windows.h>

#include "platform/single_instance.h"
#include "session/session.h"
#include "ui/window_sequence.h"

namespace {

// Made by static initialisation, before the entry runs; open until the
// process ends, so a second copy is refused exactly as long as this one runs.
platform::NamedMutex single_instance("Global\\{54FBF465-AC9B-4630-B2B8-1C94ABF7BEB0}");

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  session::SessionOptions options;
  options.instance = instance;
  options.instance_mutex_status = single_instance.creation_status();
  options.run_windows = &ui::RunWindows;
  options.release_pictures = &ui::ReleasePictures;
  // The process-wide ones: never destroyed, as the worker is never joined.
  options.boxes = &platform::SystemMessageBoxes();
  options.signals = &engine::GlobalPipelineSignals();
  options.threads = &engine::SystemPipelineThreads();
  options.registry = &platform::SystemRegistry();
  options.installer = &platform::SystemWindowsInstaller();
  options.clock = &platform::SystemClock();
  return RunSession(options);
}
