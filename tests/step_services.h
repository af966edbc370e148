// What a manager hands its steps in a test: the product's downloader and
// installer runner beside the test's own signals and message boxes.
#pragma once

#include "engine/downloader.h"
#include "engine/process_runner.h"
#include "engine/step_services.h"

struct TestStepServices {
  TestStepServices(PipelineSignals& signals, platform::MessageBoxes& boxes)
      : services{signals, boxes, downloader, installers} {}
  TestStepServices(const TestStepServices&) = delete;
  TestStepServices& operator=(const TestStepServices&) = delete;

  HttpDownloader downloader;
  ProcessInstallerRunner installers;
  StepServices services;
};
