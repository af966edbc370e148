// What start-up builds and hands to the InstallWorker: the payload, the queue
// of steps, the working directory and the run's context the steps are handed.
// Complete before the worker starts; read-only to it afterwards.
#pragma once

#include <string>

#include "engine/install_manager.h"
#include "engine/run_context.h"
#include "payload/payload_reader.h"
#include "payload/settings.h"

namespace components {

struct InstallSession {
  // The running executable's payload.
  InstallSession(const engine::RunContext& context, const std::string& working_directory)
      : manager(context), working_directory(working_directory) {}
  // Another executable's payload (tests).
  InstallSession(const engine::RunContext& context, const std::string& executable_path,
                 const std::string& working_directory)
      : reader(executable_path), manager(context), working_directory(working_directory) {}

  const engine::RunContext& context() const { return manager.context(); }

  payload::PayloadReader reader;
  payload::Configuration configuration;  // read by start-up before the worker starts
  engine::InstallManager manager;
  std::string working_directory;  // empty when it could not be made
};

}  // namespace components
