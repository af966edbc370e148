// What start-up builds and hands to the InstallWorker: the payload, the queue
// of steps, the working directory and the run's context the steps are handed.
// Complete before the worker starts; read-only to it afterwards.
#pragma once

#include <string>

#include "engine/install_manager.h"
#include "engine/run_context.h"
#include "payload/payload_reader.h"
#include "payload/settings.h"

struct InstallSession {
  // The running executable's payload.
  InstallSession(const RunContext& context, const std::string& workingDirectory)
      : manager(context), workingDirectory(workingDirectory) {}
  // Another executable's payload (tests).
  InstallSession(const RunContext& context, const std::string& executablePath,
                 const std::string& workingDirectory)
      : reader(executablePath), manager(context), workingDirectory(workingDirectory) {}

  const RunContext& context() const { return manager.context(); }

  PayloadReader reader;
  Configuration configuration;  // read by start-up before the worker starts
  InstallManager manager;
  std::string workingDirectory;  // empty when it could not be made
};
