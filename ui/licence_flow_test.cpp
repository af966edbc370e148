#include "ui/licence_flow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/event_catalog.h"
#include "tests/recorded_events.h"
#include "tests/text_cases.h"

namespace ui {

namespace {

// Records every request as one word, and keeps the two radio buttons the way
// the automatic radio buttons would.
class FakeLicenceWindow : public LicenceWindow {
 public:
  bool AcceptChecked() override { return accept; }
  void EnableOk(bool enable) override { calls.push_back(enable ? "enable" : "disable"); }
  void ShowAndFocusOk() override { calls.push_back("focus"); }
  void End() override { calls.push_back("end"); }
  void PostQuit() override { calls.push_back("quit"); }
  void OpenPrivacyPolicy() override { calls.push_back("open"); }
  void RepaintLink() override { calls.push_back("repaint"); }
  void ShowProgressWindow() override { calls.push_back("progress"); }

  bool accept = true;
  std::vector<std::string> calls;
};

using Calls = std::vector<std::string>;

class LicenceFlowTest : public ::testing::Test {
 protected:
  RecordedEvents events_;
  FakeLicenceWindow window_;
  LicenceFlow flow_{window_, events_};
};

TEST_F(LicenceFlowTest, DeclineDisablesOkAndAcceptBringsItBack) {
  window_.accept = false;
  flow_.OnCommand(1007);
  EXPECT_EQ(Calls({"disable"}), window_.calls);
  window_.accept = true;
  flow_.OnCommand(1006);
  EXPECT_EQ(Calls({"disable", "enable", "focus"}), window_.calls);
  EXPECT_TRUE(events_.Ids().empty());
}

TEST_F(LicenceFlowTest, OkAcceptsThenOpensTheProgressWindowAfterEnding) {
  flow_.OnCommand(1008);
  EXPECT_EQ(Calls({"end", "progress"}), window_.calls);
  EXPECT_EQ(std::vector<int>({diagnostics::kEulaAccepted}), events_.Ids());
}

TEST_F(LicenceFlowTest, OkWhileDeclineIsChosenDoesNothing) {
  window_.accept = false;
  flow_.OnCommand(1008);
  EXPECT_TRUE(window_.calls.empty());
  EXPECT_TRUE(events_.Ids().empty());
}

TEST_F(LicenceFlowTest, CancelAndCloseEndTheSequence) {
  flow_.OnCommand(1009);
  flow_.OnCommand(2);
  EXPECT_EQ(Calls({"quit", "end", "quit", "end"}), window_.calls);
  EXPECT_EQ(std::vector<int>({diagnostics::kEulaCancelled, diagnostics::kEulaClosed}),
            events_.Ids());
}

TEST_F(LicenceFlowTest, LinkOpensEveryTimeAndStaysVisited) {
  EXPECT_EQ(0xC00000u, flow_.LinkColour());  // RGB(0, 0, 192) as COLORREF
  flow_.OnCommand(1042);
  EXPECT_EQ(0x800080u, flow_.LinkColour());
  flow_.OnCommand(1042);
  EXPECT_EQ(0x800080u, flow_.LinkColour());
  EXPECT_EQ(Calls({"open", "repaint", "open", "repaint"}), window_.calls);
}

TEST_F(LicenceFlowTest, OtherCommandsAreIgnored) {
  flow_.OnCommand(1);  // IDOK, what Enter sends to the dialog
  flow_.OnCommand(1013);
  EXPECT_TRUE(window_.calls.empty());
}

TEST(LicencePaneTextTest, EveryLineBreakBecomesCrLf) {
  const test_tables::TextCase kPaneTexts[] = {
      {"a\nb\r\nc\rd", "a\r\nb\r\nc\r\nd"},
      {"one\r\n\r\ntwo", "one\r\n\r\ntwo"},
      {"\n\n", "\r\n\r\n"},
      {"", ""},
      {"caf\xe9", "caf\xe9"},
  };
  test_tables::ExpectEach(LicencePaneText, kPaneTexts);
}

}  // namespace

}  // namespace ui
