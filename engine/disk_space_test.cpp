#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "diagnostics/event_catalog.h"
#include "engine/install_manager.h"
#include "tests/fake_message_boxes.h"
#include "tests/recorded_events.h"
#include "tests/run_context.h"
#include "tests/scoped_drive.h"
#include "tests/test_paths.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace engine {

namespace {

class DiskSpaceTest : public testing::Test {
 protected:
  void Require(const std::vector<int>& megabytes) {
    for (int size : megabytes) {
      StepPlan plan;
      plan.requiredMegabytes = size;
      manager_.AddStep(std::make_unique<InstallStep>(plan));
    }
  }

#ifndef _WIN32
  ScopedDrive drive_;
#endif
  RecordedEvents events_;
  PipelineSignals signals_;
  FakeMessageBoxes boxes_;
  TestRunContext run_{&events_, signals_, boxes_};
  InstallManager manager_{run_.context()};
};

TEST_F(DiskSpaceTest, NothingToStoreAsksNothing) {
  // On posix drive C: does not exist here, so any question would fail.
  Require({0, 0});
  EXPECT_TRUE(manager_.CheckDiskSpace());
  EXPECT_TRUE(boxes_.shown().empty());
  EXPECT_TRUE(events_.Ids().empty());
}

TEST_F(DiskSpaceTest, TheShippedStepsFitOnThisMachine) {
#ifndef _WIN32
  ASSERT_TRUE(drive_.MakeDrive());
#endif
  Require({50, 50, 65, 65});  // .NET, Service Pack, agent, MiniServer
  EXPECT_EQ(230, manager_.requiredMegabytes());
  EXPECT_TRUE(manager_.CheckDiskSpace());
  EXPECT_TRUE(boxes_.shown().empty());
  EXPECT_TRUE(events_.Ids().empty());
}

#ifndef _WIN32
TEST_F(DiskSpaceTest, AFullSystemDriveStopsTheInstallation) {
  // /proc has no free blocks at all: a full drive.
  ASSERT_EQ(0, symlink("/proc", drive_.Drive().c_str()));
  Require({50, 50, 65});
  EXPECT_FALSE(manager_.CheckDiskSpace());
  const std::vector<FakeMessageBoxes::Shown> shown = boxes_.shown();
  ASSERT_EQ(1u, shown.size());
  EXPECT_EQ(
      "We're sorry, your system does not have enough free disk space to complete this "
      "installation.",
      shown[0].text);
  EXPECT_EQ("Installation Error", shown[0].title);
  EXPECT_EQ(platform::kMessageOk, shown[0].style);
  EXPECT_EQ((std::vector<int>{diagnostics::kNotEnoughDiskSpace}), events_.Ids());
}
#endif

}  // namespace

}  // namespace engine
