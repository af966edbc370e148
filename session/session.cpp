#include "session/session.h"

#include <memory>
#include <string>
#include <vector>

#include "components/install_session.h"
#include "components/install_worker.h"
#include "diagnostics/event_catalog.h"
#include "diagnostics/event_logger.h"
#include "diagnostics/startup_error.h"
#include "diagnostics/support_error.h"
#include "engine/downloader.h"
#include "engine/process_runner.h"
#include "engine/run_context.h"
#include "payload/embedded_files.h"
#include "payload/settings.h"
#include "platform/files.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "session/configuration_loading.h"
#include "session/shutdown.h"
#include "session/working_directory.h"
#include "ui/window_host.h"
#include "ui/window_title.h"

namespace session {

namespace {

constexpr char kProductTitle[] = "Kestrel Bootstrapper";

// What the windows need from the run. Written on the main thread only.
class SessionWindowHost : public ui::WindowHost {
 public:
  SessionWindowHost(const SessionOptions& options, components::InstallSession& session,
                    std::string title)
      : options_(options), session_(session), title_(std::move(title)) {}

  diagnostics::EventSink& Events() override { return session_.context().events; }

  void* Instance() override { return options_.instance; }
  std::string WorkingDirectory() override { return session_.working_directory; }
  std::string WindowTitle() override { return title_; }
  void SetWindowTitle(const std::string& title) override { title_ = title; }
  const payload::Settings& ConfiguredSettings() override { return session_.configuration.settings; }
  std::string EulaText() override { return session_.manager.EulaText(); }
  void KillChildProcesses() override { session::KillChildProcesses(Events()); }
  void SetCancelSurveyFlag() override { cancelSurveyFlag_ = 1; }
  engine::PipelineSignals& Signals() override { return *options_.signals; }

  int cancelSurveyFlag() const { return cancelSurveyFlag_; }

 private:
  const SessionOptions& options_;
  components::InstallSession& session_;
  std::string title_;
  int cancelSurveyFlag_ = 0;
};

// The logger and the InstallSession live until the process ends: the worker
// and the sender may still use them while the process exits. Kept here, they
// stay reachable rather than leaked.
template <class T>
T* KeepUntilExit(T* object) {
  static std::vector<void*>* kept = new std::vector<void*>();
  kept->push_back(object);
  return object;
}

bool StartDetachedWorker(components::InstallSession* session, uint32_t* error) {
  return platform::StartDetachedThread(&components::InstallWorker, session, error);
}

std::string ExtractionFailureText(uint32_t code) {
  return "ERROR " + std::to_string(code) +
         ":Unable to extract necessary information. The EXE could be corrupt. Please try "
         "downloading the EXE again.";
}

components::InstallSession* ExtractionFailed(platform::MessageBoxes& boxes,
                                             diagnostics::EventLogger& logger, uint32_t code) {
  boxes.Show(ExtractionFailureText(code), kProductTitle, platform::kMessageOk);
  logger.Post(diagnostics::kExitedOnException);
  logger.Finish();
  return nullptr;
}

// Builds the InstallSession, reads the settings, computes the windows' title
// and starts the worker; null when the run must end (the user has been told
// and the logger finished).
components::InstallSession* PrepareInstallation(const SessionOptions& options,
                                                diagnostics::EventLogger& logger,
                                                std::string* title) {
  platform::MessageBoxes& boxes = *options.boxes;
  try {
    std::string directory;
    uint32_t directory_error = 0;
    if (!GetWorkingDirectory(&directory, &directory_error)) directory.clear();
    // Lives until the process ends, with the context: the worker is never joined.
    const engine::RunContext& context = *KeepUntilExit(new engine::RunContext{
        logger, *options.signals, *options.threads, boxes, *options.registry, *options.installer,
        *options.clock, *KeepUntilExit(new engine::HttpDownloader),
        *KeepUntilExit(new engine::ProcessInstallerRunner)});
    components::InstallSession* session = KeepUntilExit(
        options.executable_path.empty()
            ? new components::InstallSession(context, directory)
            : new components::InstallSession(context, options.executable_path, directory));
    if (!session->working_directory.empty()) {
      extractEmbeddedFiles(session->reader, session->working_directory, logger);
    }
    if (session->working_directory.empty()) {
      diagnostics::ShowSupportError(boxes, static_cast<int>(directory_error), "Installation Error");
      logger.Post(diagnostics::kExitedOnDataDetachmentFailure);
      logger.Finish();
      return nullptr;
    }
    session->configuration = LoadConfiguration(session->reader, logger);
    const std::string startup_folder =
        session->configuration.settings.get(payload::FILEPATH_ON_SYSTEM_STARTUP);
    if (!platform::IsRootOrCurrentFolder(startup_folder) && !platform::PathExists(startup_folder)) {
      platform::CreateFolderTree(startup_folder);  // a failure is ignored
    }
    *title = ui::ComputeWindowTitle(session->configuration.settings);
    uint32_t start_error = 0;
    const bool started = options.start_worker ? options.start_worker(session, &start_error)
                                              : StartDetachedWorker(session, &start_error);
    if (!started) throw diagnostics::StartupError("the worker could not start", start_error);
    return session;
  } catch (const diagnostics::StartupError& error) {
    return ExtractionFailed(boxes, logger, error.code());
  } catch (...) {
    // Memory ran out: the last error is as near to the failed call as it gets.
    return ExtractionFailed(boxes, logger, platform::LastErrorCode());
  }
}

}  // namespace

int RunSession(const SessionOptions& options) {
  platform::MessageBoxes& boxes = *options.boxes;
  if (options.instance_mutex_status == 183) {
    boxes.Show("Please wait for the first game request to complete...", kProductTitle,
               platform::kMessageOk);
    return 0;
  }
  diagnostics::EventLogger* made = nullptr;
  try {
    std::string directory;
    if (!GetWorkingDirectory(&directory)) {
      throw diagnostics::StartupError("Error: Unable to create temporary directory");
    }
    diagnostics::EventLoggerOptions logger_options;
    logger_options.registry = options.registry;
    // Lives until the process ends, like the threads that post to it.
    made = KeepUntilExit(new diagnostics::EventLogger(directory, logger_options));
  } catch (const diagnostics::StartupError& error) {
    boxes.Show(error.what(), kProductTitle, platform::kMessageOk | platform::kMessageIconStop);
    return 0;
  }
  diagnostics::EventLogger& logger = *made;
  if (options.run_id) *options.run_id = logger.RunId();
  logger.Post(diagnostics::kLaunched);
  if (!IsSupportedOs()) {
    boxes.Show(
        "We're sorry, this installation cannot continue because your operating system "
        "is not supported.",
        "Installation Error", platform::kMessageOk);
    logger.Post(diagnostics::kOsUnsupported);
    logger.Finish();
    return 0;
  }
  std::string title;
  components::InstallSession* session = PrepareInstallation(options, logger, &title);
  if (!session) return 0;

  SessionWindowHost host(options, *session, title);
  int quit_code = 0;
  try {
    if (options.run_windows) quit_code = options.run_windows(host);
  } catch (...) {
    logger.Post(diagnostics::kExitedOnException);
  }

  session::KillChildProcesses(logger);
  CleanStartupFolder(session->configuration.settings.get(payload::FILEPATH_ON_SYSTEM_STARTUP));
  if (host.cancelSurveyFlag()) OfferSurvey(boxes, logger.RunId());
  if (options.release_pictures) options.release_pictures();
  logger.Post(diagnostics::kBootstrapperExited);
  logger.Finish();
  return quit_code;
}

}  // namespace session
