// What start-up builds and hands to the InstallWorker: the payload, the queue
// of steps and the working directory. Complete before the worker starts.
#pragma once

#include <string>

#include "engine/install_manager.h"
#include "payload/payload_reader.h"

struct InstallSession {
  PayloadReader reader;
  InstallManager manager;
  std::string workingDirectory;  // empty when it could not be made
};
