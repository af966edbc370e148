#include "ui/progress_flow.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "diagnostics/event_catalog.h"
#include "tests/fake_window_host.h"
#include "tests/recorded_events.h"

namespace ui {

namespace {

class FakeProgressControls : public ProgressControls {
 public:
  bool ConfirmAbort() override {
    ++questions;
    if (while_asking) while_asking();
    return answer;
  }
  void SetStatusLine(const std::string& text) override { status.push_back(text); }
  void SetPercent(int percent, const std::string& text, bool show_text) override {
    bar = percent;
    if (show_text) percent_text = text;
  }
  void EnableCancel(bool enable) override { cancel_enabled = enable; }
  void ShowCancel(bool show) override { cancel_shown = show; }
  void HideCaptionAndPercent() override { caption_shown = false; }
  void Close() override { ++closes; }

  bool answer = false;
  std::function<void()> while_asking;  // what arrives while the box is open
  int questions = 0;
  std::vector<std::string> status;
  int bar = 0;
  std::string percent_text = "0% Complete";
  bool cancel_enabled = true;
  bool cancel_shown = true;
  bool caption_shown = true;
  int closes = 0;
};

class ProgressFlowTest : public ::testing::Test {
 protected:
  RecordedEvents events_;
  FakeWindowHost host_{events_};
  FakeProgressControls controls_;
  ProgressFlow flow_{controls_, host_};
};

TEST_F(ProgressFlowTest, AnswerNoLeavesEverythingRunning) {
  controls_.answer = false;
  flow_.OnCancelRequest(1012);
  EXPECT_EQ(1, controls_.questions);
  EXPECT_FALSE(flow_.confirmation_open());
  EXPECT_TRUE(controls_.cancel_enabled);
  EXPECT_TRUE(controls_.cancel_shown);
  EXPECT_TRUE(controls_.status.empty());
  EXPECT_EQ(0, host_.signals.abortFlag.load());
  EXPECT_EQ(0, host_.survey_flag);
  EXPECT_EQ(0, host_.kills);
  EXPECT_EQ(0, controls_.closes);
  EXPECT_EQ(std::vector<int>({diagnostics::kProgressCancelClicked}), events_.Ids());
}

TEST_F(ProgressFlowTest, AnswerYesAbandonsTheInstallation) {
  controls_.answer = true;
  flow_.OnCancelRequest(1012);
  EXPECT_EQ(std::vector<std::string>({"Cancelling installation..."}), controls_.status);
  EXPECT_FALSE(controls_.cancel_shown);
  EXPECT_TRUE(controls_.cancel_enabled);  // hidden but enabled again
  EXPECT_FALSE(controls_.caption_shown);
  EXPECT_EQ(1, host_.signals.abortFlag.load());
  EXPECT_TRUE(host_.signals.abortSignal.Wait(0));
  EXPECT_EQ(1, host_.survey_flag);
  EXPECT_EQ(1, host_.kills);
  EXPECT_TRUE(flow_.confirmation_open());
  EXPECT_EQ(0, controls_.closes);  // the worker closes the window once the pipeline ends
}

TEST_F(ProgressFlowTest, CloseBoxAfterYesClosesAtOnce) {
  controls_.answer = true;
  flow_.OnCancelRequest(1012);
  flow_.OnCancelRequest(2);
  EXPECT_EQ(1, controls_.questions);
  EXPECT_EQ(1, controls_.closes);
  EXPECT_EQ(std::vector<int>(
                {diagnostics::kProgressCancelClicked, diagnostics::kProgressCloseBoxClicked}),
            events_.Ids());
}

TEST_F(ProgressFlowTest, SecondRequestWhileAskingDoesNothing) {
  controls_.answer = false;
  controls_.while_asking = [this] {
    flow_.OnCancelRequest(1012);
    flow_.OnCancelRequest(2);  // Alt+F4 on the window behind the box
  };
  flow_.OnCancelRequest(1012);
  EXPECT_EQ(1, controls_.questions);
  EXPECT_EQ(0, controls_.closes);
  EXPECT_EQ(
      std::vector<int>({diagnostics::kProgressCancelClicked, diagnostics::kProgressCancelClicked,
                        diagnostics::kProgressCloseBoxClicked}),
      events_.Ids());
}

TEST_F(ProgressFlowTest, StepFailingWhileAskingLetsTheNextRequestClose) {
  controls_.answer = false;
  controls_.while_asking = [this] { AbortInstallation(host_.signals); };
  flow_.OnCancelRequest(2);
  EXPECT_EQ(0, controls_.closes);
  EXPECT_EQ(0, host_.survey_flag);  // the user did not confirm
  flow_.OnCancelRequest(2);
  EXPECT_EQ(1, controls_.questions);
  EXPECT_EQ(1, controls_.closes);
}

TEST_F(ProgressFlowTest, CloseWhenAStepHasFailedAsksNothing) {
  AbortInstallation(host_.signals);
  flow_.OnCancelRequest(1012);
  EXPECT_EQ(0, controls_.questions);
  EXPECT_EQ(1, controls_.closes);
  EXPECT_EQ(0, host_.kills);
}

TEST_F(ProgressFlowTest, PercentMovesBarAndTextUntilCancelled) {
  flow_.ShowPercent(37);
  EXPECT_EQ(37, controls_.bar);
  EXPECT_EQ("37% Complete", controls_.percent_text);
  controls_.answer = true;
  flow_.OnCancelRequest(1012);
  flow_.ShowPercent(38);
  EXPECT_EQ(38, controls_.bar);
  EXPECT_EQ("37% Complete", controls_.percent_text);
}

TEST(PercentTextTest, NumberThenComplete) {
  // 0 is the text the window opens with; the engine shows 1 to 100.
  EXPECT_EQ("0% Complete", PercentText(0));
  EXPECT_EQ("1% Complete", PercentText(1));
  EXPECT_EQ("37% Complete", PercentText(37));
  EXPECT_EQ("100% Complete", PercentText(100));
}

}  // namespace

}  // namespace ui
