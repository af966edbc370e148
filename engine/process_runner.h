// Running an installer and waiting for it, and asking whether a process runs.
#pragma once

#include <cstdint>

#include "engine/step_services.h"

namespace engine {

class ProcessInstallerRunner : public InstallerRunner {
 public:
  // Runs plan.commandLine without a window. 1 on success (exit code 0 or
  // 3010), 9060 when it cannot start, 9064 when abandoned, 9059 when it
  // cannot be waited for, else the exit code (1 itself as 9060).
  int Run(const StepPlan& plan, StepProgress& progress, const RunContext& context) override;
};

// Whether a process with this id exists, or with match_parent, a process whose
// parent has this id; processes named `ignored_name` (any case) do not count.
// With `created_since` (a platform::ProcessCreationTime), only a process made
// at or after that time counts: ids are reused, so a process whose dead
// parent had the id is older than the id's new owner.
bool IsProcessRunning(uint32_t id, bool match_parent, const char* ignored_name = nullptr,
                      uint64_t created_since = 0);

}  // namespace engine
