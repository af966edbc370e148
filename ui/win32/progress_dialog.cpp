// The progress window: status line, percentage, the large picture and Cancel.
// Worker-side threads reach it only through ProgressLink, whose calls become
// synchronous messages handled here on the main thread.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <atomic>

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "engine/pipeline_signals.h"
#include "payload/settings.h"
#include "ui/button_keys.h"
#include "ui/layout.h"
#include "ui/progress_flow.h"
#include "ui/resource_ids.h"
#include "ui/win32/dialog_base.h"
#include "ui/win32/dialogs.h"
#include "ui/win32/modal_dialog.h"
#include "ui/win32/shared_pictures.h"
#include "ui/win32/window_drawing.h"
#include "ui/window_host.h"

namespace ui {

namespace {

// Private messages of the window.
constexpr UINT kGoAheadMessage = WM_APP + 1;     // posted to itself once on screen
constexpr UINT kStatusLineMessage = WM_APP + 2;  // lparam: const std::string*
constexpr UINT kPercentMessage = WM_APP + 3;     // wparam: the percentage
constexpr UINT kCloseMessage = WM_APP + 4;

constexpr char kAbortQuestion[] = "Are you sure you want to abort the installation?";
constexpr char kAbortTitle[] = "Abort Installation";

// The window as the engine sees it. It outlives the window (the engine may
// still call after the window has gone), so its calls then do nothing.
class ProgressLink : public engine::ProgressView {
 public:
  void SetStatusLine(const std::string& text) override {
    Send(kStatusLineMessage, 0, reinterpret_cast<LPARAM>(&text));
  }
  void ShowPercent(int percent) override { Send(kPercentMessage, percent, 0); }
  void Close() override { Send(kCloseMessage, 0, 0); }

  // Written by the main thread when the window is ready and when it goes;
  // read by any thread.
  std::atomic<HWND> window{nullptr};

 private:
  void Send(UINT message, WPARAM wparam, LPARAM lparam) {
    if (HWND target = window.load()) SendMessageA(target, message, wparam, lparam);
  }
};

// Made once and never destroyed, like the signals: the pipeline threads are
// never joined and may still call it while the process exits.
ProgressLink& Link() {
  static ProgressLink* link = new ProgressLink;
  return *link;
}

class ProgressDialog : public ProgressControls, public DialogBase {
 public:
  explicit ProgressDialog(WindowHost& host) : host_(host) {}

  void Run(HINSTANCE instance) { DialogBase::Run(instance, IDD_PROGRESS, host_.Events()); }

  bool ConfirmAbort() override {
    return MessageBoxA(dialog_, kAbortQuestion, kAbortTitle, MB_YESNO | MB_ICONEXCLAMATION) ==
           IDYES;
  }
  void SetStatusLine(const std::string& text) override { Retext(IDC_STATUS_LINE, text); }
  void SetPercent(int percent, const std::string& text, bool show_text) override {
    SendMessageA(Item(IDC_PROGRESS_BAR), PBM_SETPOS, percent, 0);
    if (show_text) Retext(IDC_PERCENT_TEXT, text);
  }
  void EnableCancel(bool enable) override { EnableWindow(Item(IDC_PROGRESS_CANCEL), enable); }
  void ShowCancel(bool show) override {
    ShowWindow(Item(IDC_PROGRESS_CANCEL), show ? SW_SHOW : SW_HIDE);
  }
  void HideCaptionAndPercent() override {
    ShowWindow(Item(IDC_CAPTION_TEXT), SW_HIDE);
    ShowWindow(Item(IDC_PERCENT_TEXT), SW_HIDE);
  }
  void Close() override { EndWindowSequence(dialog_); }

 private:
  // A transparent text leaves its old letters behind unless the background
  // is repainted first, which hiding it does.
  void Retext(int id, const std::string& text) {
    ShowWindow(Item(id), SW_HIDE);
    SetWindowTextA(Item(id), text.c_str());
    ShowWindow(Item(id), SW_SHOW);
  }
  INT_PTR Open() override;
  INT_PTR OnMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
  void PaintOverBackground(HDC dc) override {
    PaintPictureInto(dc, dialog_, Item(IDC_LARGE_PICTURE), CurrentLargePicture());
  }
  void GoAhead();
  INT_PTR StaticColour(HDC dc, HWND control);

  WindowHost& host_;
  ProgressFlow flow_{*this, host_};
  WindowFont caption_font_{"Arial", 15, 7, 400, false, ANSI_CHARSET, 0x20};
  WindowFont display_font_{"Arial Bold", 20, 8, 900, false, DEFAULT_CHARSET, 0x50};
  WindowFont status_font_{"Arial Bold", 16, 7, 900, false, DEFAULT_CHARSET, 0x50};
  WindowFont percent_font_{"Arial", 15, 6, 500, false, DEFAULT_CHARSET, 0x50};
};

INT_PTR ProgressDialog::Open() {
  SetWindowTextA(dialog_, host_.WindowTitle().c_str());
  WindowIcon();
  BackgroundPicture();
  LargePicture();
  SetWindowIcons(dialog_);
  SetFocus(Item(IDC_PROGRESS_CANCEL));
  PostMessageA(dialog_, kGoAheadMessage, 0, 0);
  SubclassButtonKeys(Item(IDC_PROGRESS_CANCEL), &ProgressCancelKey);
  caption_font_.ApplyTo(Item(IDC_CAPTION_TEXT));
  display_font_.ApplyTo(Item(IDC_DISPLAY_NAME));
  status_font_.ApplyTo(Item(IDC_STATUS_LINE));
  percent_font_.ApplyTo(Item(IDC_PERCENT_TEXT));
  const payload::Settings& settings = host_.ConfiguredSettings();
  SetWindowTextA(Item(IDC_CAPTION_TEXT), settings.progressCaption().c_str());
  SetWindowTextA(Item(IDC_DISPLAY_NAME), settings.displayId().c_str());
  ResizeToPicture(Item(IDC_PROGRESS_CANCEL), CancelButtonBitmaps()[kButtonNormal]);
  host_.Events().Post(diagnostics::kProgressInitialised);
  return FALSE;  // the focus is already on Cancel
}

void ProgressDialog::GoAhead() {
  SendMessageA(Item(IDC_PROGRESS_BAR), PBM_SETSTEP, 100, 0);
  SendMessageA(Item(IDC_PROGRESS_BAR), PBM_SETPOS, 0, 0);
  Link().window = dialog_;
  engine::PipelineSignals& signals = host_.Signals();
  signals.progressWindow = &Link();
  signals.installGoAhead.Release();
}

INT_PTR ProgressDialog::StaticColour(HDC dc, HWND control) {
  if (GetDlgCtrlID(control) == IDC_PROGRESS_BAR) {
    SetBkColor(dc, RGB(0, 0, 0));
    return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNHIGHLIGHT));
  }
  return TransparentStatic(dc);
}

INT_PTR ProgressDialog::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case kGoAheadMessage:
      GoAhead();
      return TRUE;
    case kStatusLineMessage:
      flow_.SetStatusLine(*reinterpret_cast<const std::string*>(lparam));
      return TRUE;
    case kPercentMessage:
      flow_.ShowPercent(static_cast<int>(wparam));
      return TRUE;
    case kCloseMessage:
      Close();
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      if (HIWORD(wparam) == BN_CLICKED && (id == IDC_PROGRESS_CANCEL || id == IDCANCEL)) {
        flow_.OnCancelRequest(id);
      }
      return TRUE;
    }
    case WM_DRAWITEM: {
      const DRAWITEMSTRUCT& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (item.CtlID == IDC_PROGRESS_CANCEL) DrawButton(item, CancelButtonBitmaps());
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
      return StaticColour(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_DESTROY:
      // From here on the engine's calls find no window.
      Link().window = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

void ShowProgressWindow(WindowHost& host) {
  host.Events().Post(diagnostics::kStartReportingCommand);
  ProgressDialog dialog(host);
  dialog.Run(static_cast<HINSTANCE>(host.Instance()));
}

}  // namespace ui
