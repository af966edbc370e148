#include "ui/win32/modal_dialog.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "diagnostics/event_catalog.h"
#include "tests/discarded_events.h"
#include "tests/recorded_events.h"
#include "ui/resource_ids.h"

namespace ui {

namespace {

// Whether the quit message that ends the main message loop is waiting, and
// nothing else of this thread's queue is left behind.
bool QuitWaiting() {
  MSG message;
  bool quit = false;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
    quit = quit || message.message == WM_QUIT;
  return quit;
}

INT_PTR CALLBACK ThrowingOnOpen(HWND, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) throw std::runtime_error("a window failed to open");
  return FALSE;
}

INT_PTR CALLBACK EndingOnOpen(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) EndDialog(dialog, 0);
  return FALSE;
}

TEST(ModalDialogTest, AnExceptionInTheProcedureIsPostedAndEndsTheSequence) {
  RecordedEvents events;
  EXPECT_TRUE(
      RunModalDialog(GetModuleHandleA(nullptr), IDD_SPLASH, &ThrowingOnOpen, nullptr, events));
  EXPECT_TRUE(QuitWaiting());
  EXPECT_EQ(events.Ids(), (std::vector<int>{diagnostics::kExitedOnException}));
}

TEST(ModalDialogTest, ADialogThatCannotBeMadeEndsTheSequence) {
  DiscardedEvents events;
  EXPECT_FALSE(RunModalDialog(GetModuleHandleA(nullptr), 4242, &EndingOnOpen, nullptr, events));
  EXPECT_TRUE(QuitWaiting());
}

TEST(ModalDialogTest, AWindowThatEndsNormallyLeavesTheSequenceRunning) {
  RecordedEvents events;
  EXPECT_TRUE(
      RunModalDialog(GetModuleHandleA(nullptr), IDD_SPLASH, &EndingOnOpen, nullptr, events));
  EXPECT_FALSE(QuitWaiting());
  EXPECT_TRUE(events.Ids().empty());
}

}  // namespace

}  // namespace ui
