#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/error_texts.h"
#include "diagnostics/event_catalog.h"
#include "engine/install_manager.h"
#include "tests/fake_message_boxes.h"
#include "tests/recorded_events.h"
#include "tests/recording_progress_view.h"
#include "tests/run_context.h"

namespace engine {

namespace {

class Journal {
 public:
  void Add(const std::string& line) {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.push_back(line);
  }
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_;
  }
  // Position of a line, or -1.
  int IndexOf(const std::string& line) const {
    auto all = lines();
    auto it = std::find(all.begin(), all.end(), line);
    return it == all.end() ? -1 : static_cast<int>(it - all.begin());
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// A step whose Download and Install give chosen results; a result of 0 makes
// the operation wait for the abort, as a running transfer does, and
// kThrows makes it throw.
constexpr int kThrows = -1;

class ScriptedStep : public InstallStep {
 public:
  ScriptedStep(Journal* journal, std::string name, int download, int install, int level = 0)
      : InstallStep(StepPlan()),
        journal_(journal),
        name_(std::move(name)),
        download_(download),
        install_(install) {
    plan_.waitLevel = level;
  }
  int Download() override {
    journal_->Add("download " + name_);
    int result = Run(download_, 9065);
    if (result == 1) progress_.downloadDone.Release();
    return result;
  }
  int Install() override {
    journal_->Add("install " + name_);
    if (signals().abortFlag.load()) return diagnostics::kInstallationTerminated;
    int result = Run(install_, 9064);
    if (result == 1) progress_.installDone.Release();
    return result;
  }

 private:
  int Run(int result, int on_abort) {
    if (result == kThrows) throw std::bad_alloc();
    if (result != 0) return result;
    while (!signals().abortFlag.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return on_abort;
  }
  Journal* journal_;
  std::string name_;
  int download_;
  int install_;
};

class PipelineTest : public testing::Test {
 protected:
  void Add(const std::string& name, int download, int install, int level = 0) {
    manager_.AddStep(std::make_unique<ScriptedStep>(&journal_, name, download, install, level));
  }
  void OpenProgressWindow() {
    signals_.progressWindow = &view_;
    signals_.installGoAhead.Release();
  }
  // Runs the pipeline on its own thread, as the worker does.
  void Start() {
    runner_ = std::thread([this] {
      manager_.RunPipeline();
      finished_ = true;
    });
  }
  void Finish() {
    if (runner_.joinable()) runner_.join();
  }
  void TearDown() override {
    if (!finished_) {
      AbortInstallation(signals_);
      signals_.installGoAhead.Release();
    }
    Finish();
  }

  PipelineSignals signals_;
  FakeMessageBoxes boxes_;
  TestRunContext run_{nullptr, signals_, boxes_};
  InstallManager manager_{run_.context()};
  RecordingProgressView view_;
  Journal journal_;
  std::thread runner_;
  std::atomic<bool> finished_{false};
};

TEST_F(PipelineTest, DownloadsRunAheadAndTheGatedStepWaitsForThePreviousInstall) {
  Add("dotnet", 1, 1);
  Add("agent", 1, 1);
  Add("launcher", 1, 1, 1);
  manager_.SetStatusText("Requesting Solitaire files...");
  Start();
  // Before the window opens nothing installs, and the gated step does not download.
  while (journal_.IndexOf("download agent") < 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(journal_.lines(), (std::vector<std::string>{"download dotnet", "download agent"}));
  OpenProgressWindow();
  Finish();
  EXPECT_TRUE(finished_);
  EXPECT_LT(journal_.IndexOf("install agent"), journal_.IndexOf("download launcher"));
  EXPECT_LT(journal_.IndexOf("install dotnet"), journal_.IndexOf("install agent"));
  EXPECT_EQ(journal_.lines().size(), 6u);
  EXPECT_EQ(view_.status(), (std::vector<std::string>{"Requesting Solitaire files..."}));
  EXPECT_EQ(signals_.abortFlag.load(), 0);
}

TEST_F(PipelineTest, AGatedStepFirstInTheQueuePassesItsGateAtOnce) {
  Add("launcher", 1, 1, 1);
  OpenProgressWindow();
  Start();
  Finish();
  EXPECT_EQ(journal_.lines(), (std::vector<std::string>{"download launcher", "install launcher"}));
}

TEST_F(PipelineTest, DownloadFailureBeforeTheWindowOpensEndsTheInstallThreadAtItsFirstWait) {
  Add("dotnet", 9058, 1);
  Add("launcher", 1, 1, 1);
  Start();
  while (!signals_.abortFlag.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(finished_);  // the InstallThread waits for the window without the abort
  OpenProgressWindow();
  Finish();
  EXPECT_EQ(journal_.lines(), (std::vector<std::string>{"download dotnet"}));
}

TEST_F(PipelineTest, InstallFailureWakesTheDownloadThreadAtItsGate) {
  OpenProgressWindow();
  Add("agent", 1, 1603);
  Add("launcher", 1, 1, 1);
  Start();
  Finish();
  EXPECT_EQ(journal_.lines(), (std::vector<std::string>{"download agent", "install agent"}));
  EXPECT_EQ(signals_.abortFlag.load(), 1);
}

TEST_F(PipelineTest, CancelDuringADownloadEndsBothThreads) {
  OpenProgressWindow();
  Add("dotnet", 0, 1);  // a transfer that runs until the abort
  Add("agent", 1, 1);
  Start();
  while (journal_.IndexOf("download dotnet") < 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  AbortInstallation(signals_);
  Finish();
  EXPECT_EQ(journal_.lines(), (std::vector<std::string>{"download dotnet"}));
}

TEST_F(PipelineTest, CancelDuringAnInstallLeavesTheRestUndone) {
  OpenProgressWindow();
  Add("dotnet", 1, 0);  // an installer that runs until the abort
  Add("agent", 1, 1);
  Add("launcher", 1, 1, 1);
  Start();
  while (journal_.IndexOf("install dotnet") < 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  AbortInstallation(signals_);
  Finish();
  EXPECT_EQ(journal_.IndexOf("install agent"), -1);
  EXPECT_EQ(journal_.IndexOf("download launcher"), -1);
}

// An installer that completes in the round in which the person confirms the
// cancel: its step succeeds, with the abort already signalled.
class CompletesAsCancelledStep : public ScriptedStep {
 public:
  using ScriptedStep::ScriptedStep;
  int Install() override {
    const int result = ScriptedStep::Install();
    AbortInstallation(signals());
    return result;
  }
};

TEST_F(PipelineTest, NoInstallStartsAfterACancelThatAnInstallerOutran) {
  OpenProgressWindow();
  manager_.AddStep(std::make_unique<CompletesAsCancelledStep>(&journal_, "agent", 1, 1));
  Add("launcher", 1, 1);
  Start();
  Finish();
  EXPECT_NE(journal_.IndexOf("install agent"), -1);
  EXPECT_EQ(journal_.IndexOf("install launcher"), -1);
}

// An installer that outlives the confirmed cancel and then succeeds (the
// abort is looked at once a second), long enough for the download thread,
// waiting at the next step's gate, to take the abort.
class OutlivesTheCancelStep : public InstallStep {
 public:
  OutlivesTheCancelStep() : InstallStep(StepPlan()) {}
  int Download() override {
    progress_.downloadDone.Release();
    return 1;
  }
  int Install() override {
    while (!signals().abortFlag.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    progress_.installDone.Release();
    return 1;
  }
};

TEST_F(PipelineTest, BothThreadsEndWhenAnInstallerOutlivesTheCancel) {
  OpenProgressWindow();
  manager_.AddStep(std::make_unique<OutlivesTheCancelStep>());
  Add("launcher", 1, 1, 1);  // downloads only once the installer has finished
  Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  AbortInstallation(signals_);
  for (int i = 0; i < 500 && !finished_; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(finished_) << "the install thread still waits for the launcher's download";
  if (!finished_) signals_.abortSignal.Release();  // lets the test end
  Finish();
  EXPECT_EQ(journal_.IndexOf("install launcher"), -1);
}

// The pipeline's system calls, failing as on a machine out of handles or
// threads: the chosen thread start (1 the download thread, 2 the install
// thread), the waits for a step, the wait for the progress window.
class FailingThreads : public PipelineThreads {
 public:
  FailingThreads(int failed_start, bool step_waits_fail, bool go_ahead_fails)
      : failed_start_(failed_start), step_waits_fail_(step_waits_fail), go_ahead_fails_(go_ahead_fails) {}
  int WaitForEither(platform::Waitable& first, platform::Waitable& second,
                    uint32_t* error) override {
    if (!step_waits_fail_) return PipelineThreads::WaitForEither(first, second, error);
    *error = 6;  // ERROR_INVALID_HANDLE
    return platform::kWaitFailed;
  }
  bool Wait(platform::Waitable& object, uint32_t* error) override {
    if (!go_ahead_fails_) return PipelineThreads::Wait(object, error);
    *error = 6;
    return false;
  }
  std::unique_ptr<platform::Thread> Start(platform::ThreadProc proc, void* arg,
                                          uint32_t* error) override {
    if (++starts_ != failed_start_) return PipelineThreads::Start(proc, arg, error);
    *error = 8;  // ERROR_NOT_ENOUGH_MEMORY
    return nullptr;
  }

 private:
  int starts_ = 0;
  const int failed_start_;
  const bool step_waits_fail_;
  const bool go_ahead_fails_;
};

TEST(PipelineFailureTest, AFailedWaitThreadStartOrStepIsPostedAndEndsTheRun) {
  struct Case {
    int failed_start;
    bool step_waits_fail;
    bool go_ahead_fails;
    int download;  // the first step's results, as ScriptedStep takes them
    int install;
    int event;
    const char* text;  // of a system error
  };
  const Case cases[] = {
      {1, false, false, 0, 1, diagnostics::kSystemError,
       "System ERROR: Starting the download thread failed with error 8"},
      {2, false, false, 0, 1, diagnostics::kSystemError,
       "System ERROR: Starting the install thread failed with error 8"},
      {0, true, false, 0, 1, diagnostics::kSystemError,
       "System ERROR: Waiting for a download failed with error 6"},
      {0, false, true, 0, 1, diagnostics::kSystemError,
       "System ERROR: Waiting for the progress window failed with error 6"},
      {0, false, false, kThrows, 1, diagnostics::kExitedOnException, "a download that throws"},
      {0, false, false, 1, kThrows, diagnostics::kExitedOnException, "an install that throws"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    RecordedEvents events;
    FailingThreads threads(c.failed_start, c.step_waits_fail, c.go_ahead_fails);
    PipelineSignals signals;
    FakeMessageBoxes boxes;
    TestRunContext run(&events, signals, boxes, nullptr, nullptr, &threads);
    InstallManager manager(run.context());
    Journal journal;
    // A transfer that runs until the abort, then the gated launcher.
    manager.AddStep(std::make_unique<ScriptedStep>(&journal, "dotnet", c.download, c.install));
    manager.AddStep(std::make_unique<ScriptedStep>(&journal, "launcher", 1, 1, 1));
    RecordingProgressView view;
    signals.progressWindow = &view;
    signals.installGoAhead.Release();

    std::atomic<bool> finished{false};
    std::thread runner([&] {
      manager.RunPipeline();
      finished = true;
    });
    // Bounded: a pipeline that hangs fails here instead of hanging the suite.
    for (int i = 0; i < 1000 && !finished; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(finished.load()) << "the pipeline still runs";
    if (!finished) AbortInstallation(signals);
    runner.join();

    EXPECT_EQ(signals.abortFlag.load(), 1);
    EXPECT_EQ(journal.IndexOf("install dotnet") >= 0, c.install == kThrows);
    EXPECT_EQ(journal.IndexOf("download launcher"), -1);
    EXPECT_EQ(events.Ids(), (std::vector<int>{c.event}));
    if (c.event == diagnostics::kSystemError) {
      EXPECT_EQ(diagnostics::LastErrorText(), c.text);
    }
  }
}

TEST_F(PipelineTest, AbortInstallationReleasesTheSignalOnce) {
  AbortInstallation(signals_);
  // The one pipeline thread it wakes takes the signal; a second caller must
  // not release it again, or a later wait would take a second abort.
  EXPECT_TRUE(signals_.abortSignal.Wait(0));
  AbortInstallation(signals_);
  EXPECT_FALSE(signals_.abortSignal.Wait(0));
  EXPECT_EQ(signals_.abortFlag.load(), 1);
}

// What a pipeline thread that was never joined does while the process exits.
void UseSignalsAtExit() {
  PipelineSignals& signals = GlobalPipelineSignals();
  const bool usable = signals.abortSignal.Release() && signals.abortSignal.Wait(0) &&
                      signals.installGoAhead.Release();
  std::_Exit(usable ? 0 : 3);
}

TEST(PipelineSignalsDeathTest, TheProcessWideSignalsOutliveStaticDestruction) {
  // A fresh process: the signals must not exist yet when the handler is registered.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // A handler registered before an object is made runs after that object's
  // destructor would: the place of a thread still running at exit.
  EXPECT_EXIT(
      {
        std::atexit(&UseSignalsAtExit);
        GlobalPipelineSignals();
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace

}  // namespace engine
