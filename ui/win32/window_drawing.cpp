#include "ui/win32/window_drawing.h"

#include "ui/layout.h"

namespace ui {

namespace {

// A memory DC with one bitmap selected, undone in reverse order.
class PictureDc {
 public:
  PictureDc(HDC target, HBITMAP picture) : dc_(CreateCompatibleDC(target)) {
    if (dc_) old_ = SelectObject(dc_, picture);
  }
  ~PictureDc() {
    if (!dc_) return;
    SelectObject(dc_, old_);
    DeleteDC(dc_);
  }
  PictureDc(const PictureDc&) = delete;
  PictureDc& operator=(const PictureDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
  HGDIOBJ old_ = nullptr;
};

bool PictureSize(HBITMAP picture, SIZE* size) {
  BITMAP info;
  if (!picture || GetObjectA(picture, sizeof info, &info) != sizeof info) return false;
  size->cx = info.bmWidth;
  size->cy = info.bmHeight;
  return true;
}

const char kOriginalProc[] = "KestrelButtonProc";
const char kKeyRule[] = "KestrelKeyRule";

KeyMessage KeyMessageOf(UINT message) {
  switch (message) {
    case WM_KEYDOWN:
      return KeyMessage::kKeyDown;
    case WM_KEYUP:
      return KeyMessage::kKeyUp;
    case WM_SYSKEYDOWN:
      return KeyMessage::kSysKeyDown;
    default:
      return KeyMessage::kOther;
  }
}

LRESULT CALLBACK ButtonKeysProc(HWND button, UINT message, WPARAM wparam, LPARAM lparam) {
  WNDPROC original = reinterpret_cast<WNDPROC>(GetPropA(button, kOriginalProc));
  KeyRule rule = reinterpret_cast<KeyRule>(GetPropA(button, kKeyRule));
  const KeyMessage key = KeyMessageOf(message);
  if (key != KeyMessage::kOther && rule) {
    const bool f4_down = (GetAsyncKeyState(VK_F4) & 0x8000) != 0;
    const KeyVerdict verdict = rule(key, static_cast<int>(wparam), f4_down);
    if (verdict.kind == KeyVerdict::kSwallow) return 0;
    if (verdict.kind == KeyVerdict::kCommand) {
      // Space going down pushed the button and captured the mouse; undo that,
      // or the capture would outlive this window while the next one is up.
      if (GetCapture() == button) ReleaseCapture();
      CallWindowProcA(original, button, BM_SETSTATE, FALSE, 0);
      SendMessageA(GetParent(button), WM_COMMAND, MAKEWPARAM(verdict.command, BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
      return 0;
    }
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongA(button, GWL_WNDPROC, reinterpret_cast<LONG>(original));
    RemovePropA(button, kOriginalProc);
    RemovePropA(button, kKeyRule);
  }
  return CallWindowProcA(original, button, message, wparam, lparam);
}

LRESULT CALLBACK LinkProc(HWND text, UINT message, WPARAM wparam, LPARAM lparam) {
  WNDPROC original = reinterpret_cast<WNDPROC>(GetPropA(text, kOriginalProc));
  if (message == WM_SETCURSOR) {
    // IDC_HAND is missing before Windows 2000.
    HCURSOR hand = LoadCursorA(nullptr, MAKEINTRESOURCEA(32649));
    SetCursor(hand ? hand : LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));
    return TRUE;
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongA(text, GWL_WNDPROC, reinterpret_cast<LONG>(original));
    RemovePropA(text, kOriginalProc);
  }
  return CallWindowProcA(original, text, message, wparam, lparam);
}

void Subclass(HWND control, WNDPROC proc) {
  SetPropA(control, kOriginalProc, reinterpret_cast<HANDLE>(GetWindowLongA(control, GWL_WNDPROC)));
  SetWindowLongA(control, GWL_WNDPROC, reinterpret_cast<LONG>(proc));
}

}  // namespace

void PaintBackground(HDC dc, HWND window, HBITMAP picture) {
  SIZE size;
  if (!PictureSize(picture, &size)) return;
  RECT client;
  GetClientRect(window, &client);
  PictureDc source(dc, picture);
  if (!source.get()) return;
  if (DrawBackgroundOneToOne(size.cx, size.cy, client.right, client.bottom)) {
    BitBlt(dc, 0, 0, client.right, client.bottom, source.get(), 0, 0, SRCCOPY);
  } else {
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchBlt(dc, 0, 0, client.right, client.bottom, source.get(), 0, 0, size.cx, size.cy,
               SRCCOPY);
  }
}

void PaintPictureInto(HDC dc, HWND window, HWND control, HBITMAP picture) {
  SIZE size;
  if (!control || !PictureSize(picture, &size)) return;
  RECT area;
  GetWindowRect(control, &area);
  POINT corner = {area.left, area.top};
  ScreenToClient(window, &corner);
  const int width = area.right - area.left < size.cx ? area.right - area.left : size.cx;
  const int height = area.bottom - area.top < size.cy ? area.bottom - area.top : size.cy;
  PictureDc source(dc, picture);
  if (source.get()) BitBlt(dc, corner.x, corner.y, width, height, source.get(), 0, 0, SRCCOPY);
}

INT_PTR TransparentStatic(HDC dc) {
  SetTextColor(dc, kStaticTextColour);
  SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<INT_PTR>(GetStockObject(HOLLOW_BRUSH));
}

BackgroundBrush::~BackgroundBrush() {
  if (brush_) DeleteObject(brush_);
  if (picture_) DeleteObject(picture_);
}

INT_PTR BackgroundBrush::ColourRequest(HDC dc, HWND window, HWND control, HBITMAP background) {
  if (!brush_) {
    RECT client;
    GetClientRect(window, &client);
    HDC screen = GetDC(window);
    picture_ = CreateCompatibleBitmap(screen, client.right, client.bottom);
    ReleaseDC(window, screen);
    if (picture_) {
      PictureDc canvas(dc, picture_);
      if (canvas.get()) {
        // What the dialog shows where no picture covers it.
        FillRect(canvas.get(), &client, GetSysColorBrush(COLOR_3DFACE));
        PaintBackground(canvas.get(), window, background);
      }
    }
    brush_ = picture_ ? CreatePatternBrush(picture_) : nullptr;
    if (!brush_) return TransparentStatic(dc);
  }
  POINT corner = {0, 0};
  MapWindowPoints(control, window, &corner, 1);
  // The pattern's origin at the window's corner, seen from the control.
  SetBrushOrgEx(dc, -corner.x, -corner.y, nullptr);
  SetTextColor(dc, kStaticTextColour);
  SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<INT_PTR>(brush_);
}

void DrawButton(const DRAWITEMSTRUCT& item, const HBITMAP* pictures) {
  const ButtonPicture which =
      ChooseButtonPicture((item.itemState & ODS_SELECTED) != 0, (item.itemState & ODS_FOCUS) != 0,
                          (item.itemState & ODS_DISABLED) != 0);
  SIZE size;
  if (!PictureSize(pictures[which], &size)) return;
  PictureDc source(item.hDC, pictures[which]);
  if (source.get()) {
    BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, size.cx, size.cy, source.get(), 0, 0,
           SRCCOPY);
  }
}

void ResizeToPicture(HWND button, HBITMAP picture) {
  SIZE size;
  if (!button || !PictureSize(picture, &size)) return;
  SetWindowPos(button, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SubclassButtonKeys(HWND button, KeyRule rule) {
  if (!button) return;
  SetPropA(button, kKeyRule, reinterpret_cast<HANDLE>(rule));
  Subclass(button, &ButtonKeysProc);
}

void MakeLink(HWND text) {
  if (!text) return;
  SetWindowLongA(text, GWL_STYLE, GetWindowLongA(text, GWL_STYLE) | SS_NOTIFY);
  Subclass(text, &LinkProc);
}

WindowFont::WindowFont(const char* face, int height, int width, int weight, bool underline,
                       BYTE charset, BYTE pitch_and_family)
    : font_(CreateFontA(height, width, 0, 0, weight, FALSE, underline ? TRUE : FALSE, FALSE,
                        charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                        pitch_and_family, face)) {}

WindowFont::~WindowFont() {
  if (font_) DeleteObject(font_);
}

void WindowFont::ApplyTo(HWND control) const {
  if (control && font_) SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
}

}  // namespace ui
