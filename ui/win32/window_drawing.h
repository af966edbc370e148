// Drawing shared by the three windows: pictures on the client area, the
// owner-drawn buttons, the transparent static texts and the fonts.
#pragma once

#include <windows.h>

#include "ui/button_keys.h"

namespace ui {

// The colour of every static text drawn over a background picture.
constexpr COLORREF kStaticTextColour = RGB(57, 104, 148);

// The picture over the whole client area: 1:1 from its top-left corner when
// larger in both directions, else stretched. Nothing without a picture.
void PaintBackground(HDC dc, HWND window, HBITMAP picture);
// The picture 1:1 from its top-left corner into `control`'s rectangle.
void PaintPictureInto(HDC dc, HWND window, HWND control, HBITMAP picture);

// Answer to WM_CTLCOLORSTATIC for a text over the background.
INT_PTR TransparentStatic(HDC dc);

// The window's background as a brush, for a control that must erase what it
// covers before it draws: a radio button repaints itself alone when its mark
// changes, and over a hollow brush the old mark would stay on screen.
class BackgroundBrush {
 public:
  BackgroundBrush() = default;
  ~BackgroundBrush();
  BackgroundBrush(const BackgroundBrush&) = delete;
  BackgroundBrush& operator=(const BackgroundBrush&) = delete;
  // Answer to WM_CTLCOLORSTATIC for `control` of `window`: `background` as
  // PaintBackground draws it (the face colour without one), aligned so that
  // the control shows what lies under it.
  INT_PTR ColourRequest(HDC dc, HWND window, HWND control, HBITMAP background);

 private:
  // Made at the first request and kept while the window lives; main thread only.
  HBITMAP picture_ = nullptr;
  HBRUSH brush_ = nullptr;
};

// Draws an owner-drawn button from its four pictures, chosen by its state.
void DrawButton(const DRAWITEMSTRUCT& item, const HBITMAP* pictures);
// Gives the button its picture's size, keeping its top-left corner.
void ResizeToPicture(HWND button, HBITMAP picture);

// Routes the button's key messages through `rule`: commands go to the
// parent as clicks, swallowed keys go nowhere, the rest to the button.
using KeyRule = KeyVerdict (*)(KeyMessage message, int virtual_key, bool f4_down);
void SubclassButtonKeys(HWND button, KeyRule rule);
// Makes a static text report clicks and show the hand cursor.
void MakeLink(HWND text);

// A font the window creates when it opens and deletes when it goes.
class WindowFont {
 public:
  WindowFont(const char* face, int height, int width, int weight, bool underline, BYTE charset,
             BYTE pitch_and_family);
  ~WindowFont();
  WindowFont(const WindowFont&) = delete;
  WindowFont& operator=(const WindowFont&) = delete;
  void ApplyTo(HWND control) const;

 private:
  HFONT font_;
};

}  // namespace ui
