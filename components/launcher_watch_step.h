// A step that runs a program through the command interpreter, with its output
// redirected into a file of the working directory, and turns the lines of that
// file into progress. The agent launcher and the MiniServer are watched so.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "components/launcher_output.h"
#include "engine/install_step.h"
#include "platform/files.h"
#include "platform/process.h"

namespace components {

// The waits of the watch. The counts are fixed; tests shorten the sleeps.
struct LaunchTiming {
  uint32_t poll_ms = 250;         // one look at the output file
  int start_checks = 60;          // looks for the program to appear
  int idle_timeout_polls = 1200;   // polls without progress before giving up
  uint32_t final_pause_ms = 5000;  // the MiniServer's pause before its interpreter is ended
};

// The slow advance that keeps the bar moving while the program is quiet: below
// 0.95, every third poll without new progress adds one hundredth, up to a limit
// per quiet phase. The agent launcher's limit counts quiet polls (they also
// lead to its time-out), the MiniServer's counts advances.
struct SlowAdvance {
  enum class Limits { kQuietPolls, kAdvances };
  Limits limits;
  int limit;
  int quiet_polls = 0;  // polls below the ceiling since the last progress
  int advances = 0;    // since the last progress
  int tick = 0;        // quiet polls modulo 3; progress does not reset it
};

class LauncherWatchStep : public engine::InstallStep {
 public:
  LauncherWatchStep(const char* eulaText, const std::string& outputFolder);

  // Nothing to download.
  int Download() override;

  // Applies the lines added to the output file since the last call; an Error
  // line posts 9060, shows the support box and abandons the installation. The
  // last read, after the program ended, also takes an unterminated last line.
  void ParseLauncherOutput(std::FILE* file, const std::string& tracked_name, bool last_read = false);
  double ComputeLaunchProgress() const;

  LauncherOutput output;
  std::string contentName;
  std::string outputFolder;
  double trackedWeight = 0.0;
  double componentWeight = 0.0;
  LaunchTiming timing;

 protected:
  // Starts the interpreter hidden; null (after nothing is posted) on failure.
  std::unique_ptr<platform::Process> StartInterpreter(const std::string& arguments);
  // Sleeps before each check, up to timing.start_checks times, until the program
  // started by the interpreter runs or the installation is abandoned.
  void WaitForProgramToAppear(const platform::Process& interpreter);
  // Raises the bar to the launcher's progress, or else applies the slow
  // advance; true when the poll counted as quiet (no progress, below 0.95).
  bool MoveBar(SlowAdvance& slow);
  // Raises the bar to the launcher's progress; false when there was none new.
  bool RaiseToLaunchProgress();
  // Whether an Error line has abandoned the installation (the step's thread only).
  bool ErrorLineSeen() const { return error_line_seen_; }

 private:
  bool error_line_seen_ = false;
};

// Whether a program started by the interpreter still runs: a child of its id
// made no earlier than the interpreter itself (`created`, 0 when unknown), as
// a process left by an ended parent that had the same id is older. A console
// host that newer systems attach to the interpreter is not counted: it
// outlives the program and would keep the step waiting for ever.
bool IsChildRunning(uint32_t interpreter_id, uint64_t created);
bool IsChildRunning(const platform::Process& interpreter);

}  // namespace components
