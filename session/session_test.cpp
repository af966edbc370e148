#include "session/session.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_logger.h"
#include "diagnostics/event_record.h"
#include "payload/settings.h"
#include "platform/files.h"
#include "session/shutdown.h"
#include "session/working_directory.h"
#include "tests/event_log_reader.h"
#include "tests/fake_message_boxes.h"
#include "tests/fake_registry.h"
#include "tests/fake_windows_installer.h"
#include "tests/launcher_harness.h"
#include "tests/payload_builder.h"
#include "tests/recorded_events.h"
#include "tests/scoped_drive.h"
#include "tests/test_paths.h"
#include "ui/window_host.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace session {

namespace {

// Points the temporary folder at a scratch folder while the object lives.
class ScopedTempFolder {
 public:
  explicit ScopedTempFolder(const std::string& folder) {
    const char* old = std::getenv(kVariable);
    had_old_ = old != nullptr;
    if (old) old_ = old;
    Set(folder + (folder.back() == '\\' || folder.back() == '/' ? "" : kSeparator));
  }
  ~ScopedTempFolder() {
    if (had_old_) {
      Set(old_);
    } else {
#ifdef _WIN32
      _putenv_s(kVariable, "");
#else
      unsetenv(kVariable);
#endif
    }
  }

 private:
#ifdef _WIN32
  static constexpr const char* kVariable = "TMP";
  static constexpr const char* kSeparator = "\\";
  static void Set(const std::string& value) { _putenv_s(kVariable, value.c_str()); }
#else
  static constexpr const char* kVariable = "TMPDIR";
  static constexpr const char* kSeparator = "/";
  static void Set(const std::string& value) { setenv(kVariable, value.c_str(), 1); }
#endif
  bool had_old_ = false;
  std::string old_;
};

// What a window sequence saw and did.
struct WindowScript {
  std::string title;
  std::string eula;
  bool cancel = false;
  int quit_code = 0;

  int Run(ui::WindowHost& host) {
    title = host.WindowTitle();
    eula = host.EulaText();
    if (cancel) host.SetCancelSurveyFlag();
    return quit_code;
  }
};

bool NoWorker(components::InstallSession*, uint32_t*) { return true; }
// CreateThread's "not enough memory", with later calls leaving another last error.
bool FailingWorker(components::InstallSession*, uint32_t* error) {
  *error = 8;
  errno = 0;
#ifdef _WIN32
  SetLastError(0);
#endif
  return false;
}

class SessionTest : public testing::Test {
 protected:
  void SetUp() override {
    startup_folder_ = temp_.File("WF");
    const std::string config =
        "TorvaneIISLogServer=\r\nClientID=Kestrel\r\nDisplayID=Solitaire\r\n"
        "FILEPATH_ON_SYSTEM_STARTUP=" +
        startup_folder_ + "\r\n";
    ASSERT_TRUE(test_paths::WriteWholeFile(
        exe_.File("game.exe"),
        "stub" + test_payload::Entry("CONFIG.TXT", config) + test_payload::Entry("EULA.TXT", "x")));
    options_.executable_path = exe_.File("game.exe");
    options_.boxes = &boxes_;
    options_.signals = &signals_;
    options_.threads = &threads_;
    options_.registry = &registry_;
    options_.installer = &installer_;
    options_.clock = &platform::SystemClock();
    options_.run_windows = [this](ui::WindowHost& host) { return script_.Run(host); };
    options_.start_worker = &NoWorker;
    options_.run_id = &run_id_;
  }
  std::string LogPath() const {
    return platform::JoinPath(temp_.File("TorvaneInstaller"), "TorvaneLogFile.txt");
  }
  std::vector<std::string> LoggedIds() const {
    std::vector<std::string> lines, ids;
    testing_logs::ReadLogLines(LogPath(), &lines);
    for (const std::string& line : lines) {
      const auto record = diagnostics::ParseEventRecord(line);
      if (record) ids.push_back(std::to_string(record->event_id));
    }
    return ids;
  }

  test_paths::ScratchFolder temp_;
  test_paths::ScratchFolder exe_;
  ScopedTempFolder scoped_temp_{temp_.path()};
  std::string startup_folder_;
  FakeMessageBoxes boxes_;
  engine::PipelineSignals signals_;
  engine::PipelineThreads threads_;
  FakeRegistry registry_;
  FakeWindowsInstaller installer_;
  WindowScript script_;
  std::string run_id_;
  SessionOptions options_;
};

TEST_F(SessionTest, ASecondCopyOnlyAsksToWait) {
  options_.instance_mutex_status = 183;
  EXPECT_EQ(RunSession(options_), 0);
  ASSERT_EQ(boxes_.shown().size(), 1u);
  EXPECT_EQ(boxes_.shown()[0].text, "Please wait for the first game request to complete...");
  EXPECT_EQ(boxes_.shown()[0].title, "Kestrel Bootstrapper");
  EXPECT_FALSE(platform::PathExists(LogPath()));
}

// The rows of the start-up failures that end the run before any event.
TEST_F(SessionTest, NoWorkingDirectoryOrNoLogFileEndsTheRunWithItsBox) {
  struct Case {
    const char* text;
    bool missing_temp;  // else the log file's name is taken by a folder
  };
  const Case cases[] = {
      {"Error: Unable to create temporary directory", true},
      {"Error: Could not open the log file", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FakeMessageBoxes boxes;
    options_.boxes = &boxes;
    ScopedTempFolder temp(c.missing_temp ? temp_.File("no-such-folder") : temp_.path());
    if (!c.missing_temp) {
      ASSERT_TRUE(platform::CreateFolderTree(LogPath()));
    }
    EXPECT_EQ(RunSession(options_), 0);
    const auto shown = boxes.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, c.text);
    EXPECT_EQ(shown[0].title, "Kestrel Bootstrapper");
    EXPECT_EQ(shown[0].style, platform::kMessageOk | platform::kMessageIconStop);
    EXPECT_TRUE(platform::IsFolder(LogPath()) || !platform::PathExists(LogPath()));
    EXPECT_FALSE(
        platform::PathExists(platform::JoinPath(temp_.File("no-such-folder"), "TorvaneInstaller")));
    platform::RemoveFolder(LogPath());
  }
}

TEST(WorkingDirectoryTest, AFailureKeepsTheErrorCodeOfTheCallThatFailed) {
  test_paths::ScratchFolder scratch;
  ScopedTempFolder missing(scratch.File("no-such-folder"));
  std::string path;
  uint32_t error = 0;
  EXPECT_FALSE(GetWorkingDirectory(&path, &error));
  // Not found (2, or 3 for a path on Windows), whatever later calls leave.
  errno = 0;
#ifdef _WIN32
  SetLastError(0);
#endif
  EXPECT_TRUE(error == 2 || error == 3) << error;
}

TEST_F(SessionTest, AnOrdinaryRunLogsStartUpAndShutdownInOrder) {
  script_.quit_code = 0;
  EXPECT_EQ(RunSession(options_), 0);
  EXPECT_EQ(LoggedIds(), (std::vector<std::string>{"3000", "3010", "3019", "3115", "3111"}));
  EXPECT_EQ(script_.title, "Kestrel - Solitaire");
  EXPECT_TRUE(boxes_.shown().empty());                  // no survey without a cancel
  EXPECT_FALSE(platform::PathExists(startup_folder_));  // made at start, removed at the end
}

TEST_F(SessionTest, AConfirmedCancelOffersTheSurveyWithTheRunId) {
  script_.cancel = true;
#ifndef _WIN32
  // Answered Yes, the survey opens; the posix shell only writes it down.
  FakeMessageBoxes yes(platform::kAnswerYes);
  options_.boxes = &yes;
  const std::string shell_log = platform::NativePath(temp_.File("shell.log"));
  setenv("KESTREL_SHELL_LOG", shell_log.c_str(), 1);
#endif
  RunSession(options_);
  const auto shown = static_cast<FakeMessageBoxes*>(options_.boxes)->shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "Abort Installation");
  EXPECT_EQ(shown[0].style, platform::kMessageYesNo | platform::kMessageIconQuestion);
#ifndef _WIN32
  unsetenv("KESTREL_SHELL_LOG");
  std::string opened;
  ASSERT_TRUE(test_paths::ReadWholeFile(temp_.File("shell.log"), &opened));
  ASSERT_FALSE(run_id_.empty());
  EXPECT_NE(opened.find("ext_ref=" + run_id_ + "|"), std::string::npos) << opened;
#endif
}

TEST_F(SessionTest, AWorkerThatCannotStartEndsTheRunWith3112) {
  options_.start_worker = &FailingWorker;
  EXPECT_EQ(RunSession(options_), 0);
  ASSERT_EQ(boxes_.shown().size(), 1u);
  EXPECT_NE(boxes_.shown()[0].text.find(":Unable to extract necessary information. The EXE could "
                                        "be corrupt. Please try downloading the EXE again."),
            std::string::npos);
  EXPECT_EQ(boxes_.shown()[0].text.rfind("ERROR 8:", 0), 0u) << boxes_.shown()[0].text;
  EXPECT_EQ(LoggedIds(), (std::vector<std::string>{"3000", "3010", "3019", "3112"}));
}

#ifndef _WIN32
TEST_F(SessionTest, AnUnsupportedSystemIsRefusedAfterTheFirstEvent) {
  setenv("KESTREL_OS_VERSION", "2.6.0", 1);
  EXPECT_EQ(RunSession(options_), 0);
  unsetenv("KESTREL_OS_VERSION");
  ASSERT_EQ(boxes_.shown().size(), 1u);
  EXPECT_EQ(boxes_.shown()[0].title, "Installation Error");
  EXPECT_EQ(LoggedIds(), (std::vector<std::string>{"3000", "3002"}));
}
#endif

TEST(ShutdownTest, SurveyAddressCarriesTheRunId) {
  const std::string address = SurveyAddress("0f0e-run");
  EXPECT_NE(address.find("/TakeSurvey?id=641272&ext_ref=0f0e-run"), std::string::npos);
  EXPECT_EQ(address.find("%t"), std::string::npos);
}

#ifndef _WIN32
// An empty setting names the root of the current drive, as do "C:" and "\":
// the drive here is a scratch folder, so a cleaning that went ahead shows.
TEST(ShutdownTest, ADriveRootIsNeverCleaned) {
  ScopedDrive drive;
  ASSERT_TRUE(drive.MakeDrive());
  ASSERT_TRUE(test_paths::WriteWholeFile("C:\\kept.txt", "x"));
  ASSERT_TRUE(platform::PathExists("\\kept.txt"));  // the root of the current drive
  ScopedCurrentFolder at_root("C:\\");              // where relative values resolve
  ASSERT_TRUE(at_root.ok());
  for (const char* root :
       {"", "C:\\", "C:", "\\", "C:/", "C:\\WF\\..", ".", "..\\..\\..", "WF\\.."}) {
    CleanStartupFolder(root);
    EXPECT_TRUE(platform::PathExists("C:\\kept.txt")) << root;
  }
  platform::RemoveFile("C:\\kept.txt");
  // Nor the player's own folder, which "." names wherever the run starts.
  ASSERT_TRUE(platform::CreateFolderTree("C:\\Downloads"));
  ASSERT_TRUE(test_paths::WriteWholeFile("C:\\Downloads\\Setup.exe", "x"));
  {
    ScopedCurrentFolder in_downloads("C:\\Downloads");
    for (const char* own : {".", "WF\\..", "..\\Downloads", "C:\\Downloads", "C:\\"}) {
      CleanStartupFolder(own);
      EXPECT_TRUE(platform::PathExists("C:\\Downloads\\Setup.exe")) << own;
    }
  }
  platform::RemoveFile("C:\\Downloads\\Setup.exe");
  platform::RemoveFolder("C:\\Downloads");
}

// Nothing is started on posix: the shell's requests are written to a file.
class ShellLogTest : public testing::Test {
 protected:
  void SetUp() override { setenv("KESTREL_SHELL_LOG", log_.c_str(), 1); }
  void TearDown() override { unsetenv("KESTREL_SHELL_LOG"); }
  std::string Requests() const {
    std::string text;
    test_paths::ReadWholeFile(log_, &text);
    return text;
  }

  test_paths::ScratchFolder scratch_;
  // The variable names a native path.
  std::string log_ = platform::NativePath(scratch_.File("shell.log"));
};

TEST_F(ShellLogTest, TheTaskKillCommandEndsTheLaunchersHidden) {
  RecordedEvents events;
  EXPECT_TRUE(KillChildProcesses(events));
  EXPECT_EQ(Requests(),
            "C:\\WINDOWS\\system32\\taskkill.exe| /t /f /im *AgentLauncher.exe /im "
            "miniserver.exe|hidden\n");
  EXPECT_EQ(events.Ids(), (std::vector<int>{diagnostics::kChildProcessesTerminated}));

  // A command that cannot be started.
  RecordedEvents failed;
  setenv("KESTREL_SHELL_LOG",
         platform::NativePath(scratch_.File("no-such-folder\\shell.log")).c_str(), 1);
  EXPECT_TRUE(KillChildProcesses(failed));
  EXPECT_EQ(failed.Ids(), (std::vector<int>{diagnostics::kChildProcessesNotTerminated}));

  // An unknown system folder must not make it \taskkill.exe.
  setenv("KESTREL_SHELL_LOG", log_.c_str(), 1);
  setenv("KESTREL_SYSTEM_FOLDER", "", 1);
  const std::string before = Requests();
  RecordedEvents unknown;
  EXPECT_TRUE(KillChildProcesses(unknown));
  unsetenv("KESTREL_SYSTEM_FOLDER");
  EXPECT_EQ(unknown.Ids(), (std::vector<int>{diagnostics::kChildProcessesNotTerminated}));
  EXPECT_EQ(Requests(), before);
}

TEST_F(ShellLogTest, OnYesTheSurveyOpensWithTheRunIdAndOnNoNothing) {
  FakeMessageBoxes no(platform::kAnswerNo);
  OfferSurvey(no, "6f1c0e2a-5b7d-4e11-9a3c-2d8e4f6a7b90");
  EXPECT_EQ(Requests(), "");
  FakeMessageBoxes yes(platform::kAnswerYes);
  OfferSurvey(yes, "6f1c0e2a-5b7d-4e11-9a3c-2d8e4f6a7b90");
  const std::string request = Requests();
  const std::string tail =
      "/TakeSurvey?id=641272&ext_ref=6f1c0e2a-5b7d-4e11-9a3c-2d8e4f6a7b90||shown\n";
  ASSERT_GE(request.size(), tail.size());
  EXPECT_EQ(request.substr(request.size() - tail.size()), tail) << request;
  EXPECT_EQ(request.rfind("http://", 0), 0u) << request;
  EXPECT_EQ(request.find('\n'), request.size() - 1);  // one address opened
  ASSERT_EQ(yes.shown().size(), 1u);
  EXPECT_EQ(yes.shown()[0].title, "Abort Installation");
}
#endif  // !_WIN32

TEST(ShutdownTest, CleaningLeavesAFolderThatHoldsASubFolder) {
  test_paths::ScratchFolder scratch;
  const std::string folder = scratch.File("WF");
  ASSERT_TRUE(platform::CreateFolder(folder));
  ASSERT_TRUE(platform::CreateFolder(platform::JoinPath(folder, "keep")));
  ASSERT_TRUE(test_paths::WriteWholeFile(platform::JoinPath(folder, "cookie.txt"), "x"));
  CleanStartupFolder(folder);
  EXPECT_FALSE(platform::PathExists(platform::JoinPath(folder, "cookie.txt")));
  EXPECT_TRUE(platform::IsFolder(folder));
  platform::RemoveFolder(platform::JoinPath(folder, "keep"));
  CleanStartupFolder(folder);
  EXPECT_FALSE(platform::PathExists(folder));
}

}  // namespace

}  // namespace session
