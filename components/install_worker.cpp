#include "components/install_worker.h"

#include <memory>

#include "components/agent_launcher_step.h"
#include "components/agent_package_step.h"
#include "components/dotnet_framework_step.h"
#include "components/dotnet_service_pack_step.h"
#include "components/download_plan.h"
#include "components/install_session.h"
#include "components/miniserver_step.h"
#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "payload/cookie_file.h"
#include "payload/embedded_files.h"
#include "payload/settings.h"

namespace components {

namespace {

// The window opens once the licence is accepted: until then the close waits
// (declined, the process ends while it waits).
void CloseProgressWindowOnceUp(engine::PipelineSignals& signals) {
  if (!signals.progressWindow.load()) signals.installGoAhead.Wait();
  if (engine::ProgressView* window = signals.progressWindow.load()) window->Close();
}

}  // namespace

void RunInstallWorker(InstallSession& session) {
  const payload::PayloadReader& reader = session.reader;
  engine::InstallManager& manager = session.manager;
  const payload::Settings& settings = session.configuration.settings;
  const std::string& directory = session.working_directory;

  SaveOptionalInstallers(reader, directory);
  const DownloadPlan plan = PlanDownloads(settings, directory);
  manager.AddStep(std::make_unique<DotNetFrameworkStep>(reader.entryData("DOTNETFRAMEWORKEULA.TXT"),
                                                        plan.framework));
  manager.AddStep(std::make_unique<DotNetServicePackStep>(
      reader.entryData("DOTNETFRAMEWORKSERVICEPACKEULA.TXT"), plan.service_pack));
  manager.AddStep(std::make_unique<AgentPackageStep>(reader.entryData("TORVANEAGENTEULA.TXT"),
                                                     plan.agent,
                                                     settings.get(payload::TORVANEAGENTGUID)));
  if (IsMiniServerPresent(session.context().events)) {
    manager.SetStatusText("Installing...");
    manager.AddStep(std::make_unique<MiniServerStep>(reader.entryData("EULA.TXT"), directory));
  } else {
    manager.SetStatusText("Requesting " + settings.get(payload::DISPLAYID) + " files...");
    manager.AddStep(std::make_unique<AgentLauncherStep>(
        reader.entryData("EULA.TXT"), settings.get(payload::DESKID),
        settings.get(payload::DESKINSTALL), settings.get(payload::CONTENTID), directory,
        session.configuration.agentDependencies));
  }

  engine::PipelineSignals& signals = manager.signals();
  signals.stepsReady.Release();
  if (manager.CheckDiskSpace()) {
    payload::writeCookieFile(settings.get(payload::FILEPATH_ON_SYSTEM_STARTUP),
                             settings.get(payload::CATALOGID),
                             payload::unquote(settings.get(payload::CONTENTID)));
    manager.RunPipeline();
  } else {
    // Nothing can be installed: the installation is abandoned as after any
    // failed step, and the progress window, which opens only once the licence
    // is accepted, is closed as soon as it is up instead of waiting at 0 %.
    AbortInstallation(signals);
  }
  CloseProgressWindowOnceUp(signals);
}

void InstallWorker(void* arg) {
  InstallSession& session = *static_cast<InstallSession*>(arg);
  try {
    RunInstallWorker(session);
  } catch (...) {
    // Escaping, it would end the process unlogged: the run goes on to its
    // end instead, with the windows it has (the splash waits for the steps).
    session.context().events.Post(diagnostics::kExitedOnException);
    engine::PipelineSignals& signals = session.manager.signals();
    AbortInstallation(signals);
    signals.stepsReady.Release();
    CloseProgressWindowOnceUp(signals);
  }
}

}  // namespace components
