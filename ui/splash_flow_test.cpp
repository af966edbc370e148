#include "ui/splash_flow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/discarded_events.h"
#include "tests/fake_window_host.h"

namespace ui {

namespace {

class FakeSplash : public SplashControls {
 public:
  void StopTimer() override { calls.push_back("stop"); }
  void End() override { calls.push_back("end"); }
  void EmptyBackground() override { calls.push_back("empty"); }
  void ShowLicenceWindow(const std::string& text) override { calls.push_back("licence:" + text); }
  void ShowProgressWindow() override { calls.push_back("progress"); }
  std::vector<std::string> calls;
};

using Calls = std::vector<std::string>;

TEST(SplashFlowTest, WaitsForTheStepsThenShowsTheLicence) {
  DiscardedEvents events;
  FakeWindowHost host(events);
  host.eulaText = "Agent licence";
  FakeSplash splash;
  std::atomic<bool> released{false};
  std::thread worker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(0, host.eulaTextReads.load());  // nothing read before the steps are queued
    released = true;
    host.signals.stepsReady.Release();
  });
  RunSplashTimer(splash, host);
  EXPECT_TRUE(released.load());
  worker.join();
  EXPECT_EQ(Calls({"stop", "end", "empty", "licence:Agent licence"}), splash.calls);
}

TEST(SplashFlowTest, NoLicenceTextGoesStraightToProgress) {
  DiscardedEvents events;
  FakeWindowHost host(events);
  host.signals.stepsReady.Release();
  FakeSplash splash;
  RunSplashTimer(splash, host);
  EXPECT_EQ(Calls({"stop", "end", "empty", "progress"}), splash.calls);
}

}  // namespace

}  // namespace ui
