// What start-up builds and hands to the InstallWorker: the payload, the queue
// of steps, the working directory and the system services the steps ask.
// Complete before the worker starts; read-only to it afterwards.
#pragma once

#include <string>

#include "engine/downloader.h"
#include "engine/install_manager.h"
#include "engine/process_runner.h"
#include "payload/payload_reader.h"
#include "payload/settings.h"
#include "platform/msi.h"
#include "platform/registry.h"

struct InstallSession {
  // The running executable's payload.
  InstallSession(const std::string& workingDirectory, PipelineSignals& signals,
                 platform::MessageBoxes& boxes)
      : services{signals, boxes, downloader, installers},
        manager(services),
        workingDirectory(workingDirectory) {}
  // Another executable's payload and the given services (tests).
  InstallSession(const std::string& executablePath, const std::string& workingDirectory,
                 PipelineSignals& signals, platform::MessageBoxes& boxes,
                 platform::Registry& registry, platform::WindowsInstaller& installer)
      : reader(executablePath),
        services{signals, boxes, downloader, installers},
        manager(services),
        workingDirectory(workingDirectory),
        registry(&registry),
        installer(&installer) {}

  PayloadReader reader;
  Configuration configuration;  // read by start-up before the worker starts
  // What the steps' downloads and installs go through.
  HttpDownloader downloader;
  ProcessInstallerRunner installers;
  StepServices services;
  InstallManager manager;
  std::string workingDirectory;  // empty when it could not be made
  platform::Registry* registry = &platform::SystemRegistry();
  platform::WindowsInstaller* installer = &platform::SystemWindowsInstaller();
};
