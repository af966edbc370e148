#include "engine/install_manager.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/fake_message_boxes.h"
#include "tests/recording_progress_view.h"
#include "tests/run_context.h"
#include "ui/progress_flow.h"

namespace engine {

namespace {

class WeightedStep : public InstallStep {
 public:
  WeightedStep(const char* eula, double download, double install, int megabytes,
               bool installed = false, bool first = false)
      : InstallStep(StepWithLicence(eula)), installed_(installed), first_(first) {
    plan_.downloadWeight = download;
    plan_.installWeight = install;
    plan_.requiredMegabytes = megabytes;
  }
  bool IsInstalled() override { return installed_; }
  bool EulaComesFirst() override { return first_; }

 private:
  bool installed_;
  bool first_;
};

class InstallManagerTest : public testing::Test {
 protected:
  PipelineSignals signals_;
  FakeMessageBoxes boxes_;
  TestRunContext run_{nullptr, signals_, boxes_};
  InstallManager manager_{run_.context()};
};

TEST_F(InstallManagerTest, InstalledStepContributesNothing) {
  manager_.AddStep(std::make_unique<WeightedStep>("licence", 2.0, 3.0, 50, true));
  EXPECT_TRUE(manager_.steps().empty());
  EXPECT_EQ(manager_.totalWeight(), 0.0);
  EXPECT_EQ(manager_.requiredMegabytes(), 0);
  EXPECT_EQ(manager_.EulaText(), "");
}

TEST_F(InstallManagerTest, GathersLicencesWithTheAgentTextFirstAndTrimsTheEnds) {
  manager_.AddStep(std::make_unique<WeightedStep>("\r\n.NET text ", 2.0, 3.0, 50));
  manager_.AddStep(std::make_unique<WeightedStep>("SP text\r\n\r\n", 1.5, 2.0, 50));
  manager_.AddStep(std::make_unique<WeightedStep>("\tAgent text", 1.0, 1.0, 65, false, true));
  manager_.AddStep(std::make_unique<WeightedStep>(nullptr, 0.0, 1.0, 0));
  // Trimmed after each join, so the blank that ended the .NET text goes too.
  EXPECT_EQ(manager_.EulaText(), "Agent text\r\n\r\n.NET text\r\n\r\nSP text");
  EXPECT_DOUBLE_EQ(manager_.totalWeight(), 11.5);
  EXPECT_EQ(manager_.requiredMegabytes(), 165);
}

TEST_F(InstallManagerTest, AllBlankLicenceBecomesEmpty) {
  manager_.AddStep(std::make_unique<WeightedStep>(" \r\n\t ", 1.0, 1.0, 0));
  EXPECT_EQ(manager_.EulaText(), "");
}

TEST_F(InstallManagerTest, HalfTheDotNetDownloadIsEightPercent) {
  auto dotnet = std::make_unique<WeightedStep>(nullptr, 2.0, 3.0, 50);
  InstallStep* first = dotnet.get();
  manager_.AddStep(std::move(dotnet));
  manager_.AddStep(std::make_unique<WeightedStep>(nullptr, 1.5, 2.0, 50));
  manager_.AddStep(std::make_unique<WeightedStep>(nullptr, 1.0, 1.0, 65));
  manager_.AddStep(std::make_unique<WeightedStep>(nullptr, 0.0, 1.0, 0));
  first->progress().phase = 1;
  first->progress().bytesTotal = 1000.0;
  first->progress().bytesReceived = 500.0;
  EXPECT_EQ(manager_.OverallPercent(), 8);
}

TEST_F(InstallManagerTest, FractionsNeverFallNorPassOne) {
  SharedDouble fraction{0.5};
  StepProgress::Raise(fraction, 0.4);
  EXPECT_EQ(fraction.load(), 0.5);
  StepProgress::Raise(fraction, 1.2);
  EXPECT_EQ(fraction.load(), 0.5);
  StepProgress::Raise(fraction, 1.0);
  EXPECT_EQ(fraction.load(), 1.0);
}

TEST_F(InstallManagerTest, ProgressIsShownOnlyOnceTheWindowIsUpAndOnlyWhenItChanges) {
  auto step = std::make_unique<WeightedStep>(nullptr, 1.0, 1.0, 0);
  InstallStep* raw = step.get();
  manager_.AddStep(std::move(step));
  RecordingProgressView view;
  raw->progress().phase = 1;
  raw->progress().bytesTotal = 100.0;
  raw->progress().bytesReceived = 50.0;
  raw->progress().Notify();  // no window yet: nothing shown
  EXPECT_TRUE(view.percents().empty());
  signals_.progressWindow = &view;
  raw->progress().Notify();
  raw->progress().bytesReceived = 1.0;
  raw->progress().Notify();  // the fraction never falls: still 25 %, not shown again
  raw->progress().installFraction = 1.0;
  raw->progress().bytesReceived = 100.0;
  raw->progress().Notify();
  raw->progress().Notify();
  EXPECT_EQ(view.percents(), (std::vector<int>{25, 100}));
  EXPECT_EQ("25% Complete", ui::PercentText(25));
  EXPECT_EQ("100% Complete", ui::PercentText(100));
}

TEST_F(InstallManagerTest, ZeroPercentIsNeverShown) {
  auto step = std::make_unique<WeightedStep>(nullptr, 1.0, 1.0, 0);
  InstallStep* raw = step.get();
  manager_.AddStep(std::move(step));
  RecordingProgressView view;
  signals_.progressWindow = &view;
  raw->progress().Notify();
  EXPECT_TRUE(view.percents().empty());
}

}  // namespace

}  // namespace engine
