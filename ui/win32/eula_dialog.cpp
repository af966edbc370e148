// The licence window: the gathered licence text, accept or decline, OK and
// Cancel, and the privacy-policy link. Decisions live in LicenceFlow.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "diagnostics/deployment.h"
#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "ui/button_keys.h"
#include "ui/layout.h"
#include "ui/licence_flow.h"
#include "ui/resource_ids.h"
#include "ui/win32/dialog_base.h"
#include "ui/win32/dialogs.h"
#include "ui/win32/modal_dialog.h"
#include "ui/win32/shared_pictures.h"
#include "ui/win32/window_drawing.h"
#include "ui/window_host.h"
#include "ui/window_title.h"

namespace ui {

namespace {

constexpr int kPaneMargin = 12;
constexpr char kHeading[] = "End User License Agreement(s)";

class EulaDialog : public LicenceWindow, public DialogBase {
 public:
  EulaDialog(WindowHost& host, const std::string& licence_text)
      : host_(host), licence_text_(licence_text) {}

  void Run(HINSTANCE instance) { DialogBase::Run(instance, IDD_LICENCE, host_.Events()); }

  bool AcceptChecked() override { return IsDlgButtonChecked(dialog_, IDC_ACCEPT) == BST_CHECKED; }
  void EnableOk(bool enable) override { EnableWindow(Item(IDC_LICENCE_OK), enable); }
  void ShowAndFocusOk() override {
    ShowWindow(Item(IDC_LICENCE_OK), SW_SHOW);
    SetFocus(Item(IDC_LICENCE_OK));
  }
  void End() override { EndDialog(dialog_, 0); }
  void PostQuit() override { PostQuitMessage(0); }
  void OpenPrivacyPolicy() override {
    ShellExecuteA(nullptr, "open", diagnostics::kPrivacyAddress, nullptr, nullptr, SW_SHOWNORMAL);
  }
  void RepaintLink() override { InvalidateRect(Item(IDC_PRIVACY_LINK), nullptr, TRUE); }
  void ShowProgressWindow() override { ui::ShowProgressWindow(host_); }

 private:
  INT_PTR Open() override;
  INT_PTR OnMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
  INT_PTR StaticColour(HDC dc, HWND control);

  WindowHost& host_;
  const std::string licence_text_;
  LicenceFlow flow_{*this, host_.Events()};
  WindowFont heading_font_{"Arial Bold", 16, 7, 600, false, ANSI_CHARSET, 0x20};
  WindowFont label_font_{"Arial", 14, 5, 500, false, ANSI_CHARSET, 0x20};
  WindowFont link_font_{"Arial", 14, 5, 500, true, ANSI_CHARSET, 0x20};
  BackgroundBrush radio_background_;
};

void Place(HWND control, const Placement& at) {
  SetWindowPos(control, nullptr, at.x, at.y, at.width, at.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR EulaDialog::Open() {
  const std::string title = ComputeWindowTitle(host_.ConfiguredSettings());
  host_.SetWindowTitle(title);
  SetWindowTextA(dialog_, title.c_str());

  WindowIcon();
  BackgroundPicture();
  LargePicture();
  SetWindowIcons(dialog_);

  SubclassButtonKeys(Item(IDC_LICENCE_OK), &LicenceOkKey);
  SubclassButtonKeys(Item(IDC_LICENCE_CANCEL), &LicenceCancelKey);
  ResizeToPicture(Item(IDC_LICENCE_OK), OkButtonBitmaps()[kButtonNormal]);
  ResizeToPicture(Item(IDC_LICENCE_CANCEL), CancelButtonBitmaps()[kButtonNormal]);

  heading_font_.ApplyTo(Item(IDC_HEADING));
  heading_font_.ApplyTo(Item(IDC_SECOND_HEADING));
  label_font_.ApplyTo(Item(IDC_ACCEPT_LABEL));
  label_font_.ApplyTo(Item(IDC_DECLINE_LABEL));
  for (int pane : {IDC_LICENCE_PANE, IDC_SECOND_PANE}) {
    SendMessageA(Item(pane), EM_SETMARGINS, EC_LEFTMARGIN, MAKELPARAM(kPaneMargin, 0));
    // Lift the edit control's default limit, so a long licence is not cut.
    SendMessageA(Item(pane), EM_LIMITTEXT, 0, 0);
  }

  CheckRadioButton(dialog_, IDC_ACCEPT, IDC_DECLINE, IDC_ACCEPT);
  ShowWindow(Item(IDC_SECOND_PANE), SW_HIDE);
  ShowWindow(Item(IDC_SECOND_HEADING), SW_HIDE);
  ShowWindow(Item(IDC_HEADING), SW_SHOW);
  ShowWindow(Item(IDC_LICENCE_PANE), SW_SHOW);
  RECT client;
  GetClientRect(dialog_, &client);
  Place(Item(IDC_LICENCE_PANE), LicencePanePlacement(client.right, client.bottom));
  Place(Item(IDC_HEADING), LicenceHeadingPlacement(client.right, client.bottom));
  SetWindowTextA(Item(IDC_HEADING), kHeading);
  SetWindowTextA(Item(IDC_LICENCE_PANE), LicencePaneText(licence_text_).c_str());

  MakeLink(Item(IDC_PRIVACY_LINK));
  link_font_.ApplyTo(Item(IDC_PRIVACY_LINK));

  // Handled once the window is up: OK enabled, shown and focused.
  PostMessageA(dialog_, WM_COMMAND, IDC_ACCEPT, 0);
  host_.Events().Post(diagnostics::kEulaInitialised);
  // Not the default focus: the pane would select its text and scroll to its end.
  SetFocus(Item(IDC_LICENCE_OK));
  return FALSE;
}

INT_PTR EulaDialog::StaticColour(HDC dc, HWND control) {
  switch (GetDlgCtrlID(control)) {
    case IDC_LICENCE_PANE:
    case IDC_SECOND_PANE:
      SetBkColor(dc, RGB(255, 255, 255));
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNHIGHLIGHT));
    case IDC_ACCEPT:
    case IDC_DECLINE:
      return radio_background_.ColourRequest(dc, dialog_, control, CurrentBackground());
    case IDC_PRIVACY_LINK:
      SetTextColor(dc, flow_.LinkColour());
      SetBkMode(dc, OPAQUE);
      SetBkColor(dc, RGB(255, 255, 255));
      return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    default:
      return TransparentStatic(dc);
  }
}

INT_PTR EulaDialog::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      // Clicks only: the pane's and the link's other notifications are not commands.
      if (HIWORD(wparam) == BN_CLICKED) flow_.OnCommand(LOWORD(wparam));
      return TRUE;
    case WM_DRAWITEM: {
      const DRAWITEMSTRUCT& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (item.CtlID == IDC_LICENCE_OK) DrawButton(item, OkButtonBitmaps());
      if (item.CtlID == IDC_LICENCE_CANCEL) DrawButton(item, CancelButtonBitmaps());
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
      return StaticColour(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    default:
      return FALSE;
  }
}

}  // namespace

void ShowLicenceWindow(WindowHost& host, const std::string& licence_text) {
  EulaDialog dialog(host, licence_text);
  dialog.Run(static_cast<HINSTANCE>(host.Instance()));
}

}  // namespace ui
