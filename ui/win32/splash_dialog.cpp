// The splash window: the splash picture centred in the work area, for three
// seconds at least and until the worker has queued the steps.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "platform/win32/topmost.h"
#include "ui/layout.h"
#include "ui/resource_ids.h"
#include "ui/splash_flow.h"
#include "ui/win32/dialog_base.h"
#include "ui/win32/dialogs.h"
#include "ui/win32/modal_dialog.h"
#include "ui/win32/shared_pictures.h"
#include "ui/win32/window_drawing.h"
#include "ui/window_host.h"
#include "ui/window_sequence.h"

namespace ui {

namespace {

constexpr UINT_PTR kSplashTimer = 0;
// Own boxes are raised again a little after the splash is shown: the window
// manager places a window when it gets round to it.
constexpr UINT_PTR kRaiseBoxesTimer = 1;
constexpr UINT kRaiseBoxesDelayMs = 300;
constexpr UINT kSplashMilliseconds = 3000;

class SplashDialog : public SplashControls, public DialogBase {
 public:
  explicit SplashDialog(WindowHost& host) : host_(host) {}

  void Run(HINSTANCE instance) { DialogBase::Run(instance, IDD_SPLASH, host_.Events()); }

  void StopTimer() override { KillTimer(dialog_, kSplashTimer); }
  void End() override { EndDialog(dialog_, 0); }
  void EmptyBackground() override { ui::EmptyBackground(); }
  void ShowLicenceWindow(const std::string& licence_text) override {
    ui::ShowLicenceWindow(host_, licence_text);
  }
  void ShowProgressWindow() override { ui::ShowProgressWindow(host_); }

 private:
  INT_PTR Open() override;
  INT_PTR OnMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

  WindowHost& host_;
};

// A message box of this process that the splash came up over (the worker's
// checks run meanwhile: without the Windows Installer it tells the person at
// once) would lie behind the topmost splash, where nobody could answer it: it
// goes back in front. Boxes made later put themselves in front.
BOOL CALLBACK RaiseIfOwnBox(HWND window, LPARAM splash) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char class_name[16];
  if (window != reinterpret_cast<HWND>(splash) && process == GetCurrentProcessId() &&
      IsWindowVisible(window) && GetClassNameA(window, class_name, sizeof class_name) &&
      lstrcmpA(class_name, "#32770") == 0) {
    platform::RaiseAboveAll(window);
  }
  return TRUE;
}

INT_PTR SplashDialog::Open() {
  SplashPicture();
  SetWindowIcons(dialog_);
  // Without its picture the window keeps the template's size, centred the same way.
  int width = 0;
  int height = 0;
  BITMAP info;
  HBITMAP picture = CurrentBackground();
  if (picture && GetObjectA(picture, sizeof info, &info) == sizeof info) {
    width = info.bmWidth;
    height = info.bmHeight;
  } else {
    RECT frame;
    GetWindowRect(dialog_, &frame);
    width = frame.right - frame.left;
    height = frame.bottom - frame.top;
  }
  MONITORINFO monitor;
  monitor.cbSize = sizeof monitor;
  ScreenRect work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (GetMonitorInfoA(MonitorFromWindow(dialog_, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
    work = {monitor.rcWork.left, monitor.rcWork.top, monitor.rcWork.right, monitor.rcWork.bottom};
  }
  const Placement at = CenterInWorkArea(width, height, work);
  SetWindowPos(dialog_, HWND_TOPMOST, at.x, at.y, at.width, at.height, 0);
  SetWindowPos(Item(IDC_PICTURE_FRAME), nullptr, 0, 0, at.width, at.height,
               SWP_NOZORDER | SWP_NOACTIVATE);
  SetTimer(dialog_, kSplashTimer, kSplashMilliseconds, nullptr);
  host_.Events().Post(diagnostics::kSplashInitialised);
  return TRUE;
}

INT_PTR SplashDialog::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_WINDOWPOSCHANGED: {
      // Shown, activated or otherwise brought forward: over a box, maybe.
      const WINDOWPOS& position = *reinterpret_cast<const WINDOWPOS*>(lparam);
      if ((position.flags & SWP_SHOWWINDOW) || !(position.flags & SWP_NOZORDER)) {
        EnumWindows(&RaiseIfOwnBox, reinterpret_cast<LPARAM>(dialog_));
      }
      if (position.flags & SWP_SHOWWINDOW)
        SetTimer(dialog_, kRaiseBoxesTimer, kRaiseBoxesDelayMs, nullptr);
      return FALSE;  // the dialog's own handling goes on
    }
    case WM_TIMER:
      if (wparam == kRaiseBoxesTimer) {
        KillTimer(dialog_, kRaiseBoxesTimer);
        EnumWindows(&RaiseIfOwnBox, reinterpret_cast<LPARAM>(dialog_));
        return TRUE;
      }
      // The licence and progress windows run from inside this call.
      RunSplashTimer(*this, host_);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      return TransparentStatic(reinterpret_cast<HDC>(wparam));
    default:
      return FALSE;
  }
}

}  // namespace

int StartSplash(WindowHost& host) {
  HINSTANCE instance = static_cast<HINSTANCE>(host.Instance());
  InitCommonControls();  // the progress bar's class
  SetPicturePaths(host.WorkingDirectory());
  LoadButtonBitmaps(instance);
  SplashDialog splash(host);
  splash.Run(instance);
  return 1;
}

int RunWindows(WindowHost& host) {
  StartSplash(host);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return message.message == WM_QUIT ? static_cast<int>(message.wParam) : 0;
}

}  // namespace ui
