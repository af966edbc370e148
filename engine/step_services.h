// What a step's work goes through: the downloader that fetches its installer
// and the runner that runs it. The run context holds the run's own.
#pragma once

#include <string>

namespace engine {

struct RunContext;
struct StepPlan;
class StepProgress;

// Fetches a step's installer into plan.localPath from `url`: 1, or the event
// posted (9058, 9061, 9052, 9062 or 9065).
class Downloader {
 public:
  virtual ~Downloader() = default;
  virtual int Download(const StepPlan& plan, const std::string& url, StepProgress& progress,
                       const RunContext& context) = 0;
};

// Runs a step's installer (plan.commandLine) and waits for it: 1, or the
// failure code.
class InstallerRunner {
 public:
  virtual ~InstallerRunner() = default;
  virtual int Run(const StepPlan& plan, StepProgress& progress, const RunContext& context) = 0;
};

}  // namespace engine
