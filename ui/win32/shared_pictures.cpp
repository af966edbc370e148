#include "ui/win32/shared_pictures.h"

#include "ui/win32/picture_loader.h"
#include "ui/window_sequence.h"

namespace ui {

namespace {

struct Pictures {
  std::string iconPath;
  std::string backgroundPath;
  std::string splashPath;
  std::string largePicturePath;
  HICON icon = nullptr;
  HBITMAP background = nullptr;
  HBITMAP largePicture = nullptr;
  HBITMAP okButton[kButtonPictureCount] = {};
  HBITMAP cancelButton[kButtonPictureCount] = {};
};

Pictures& Slots() {
  static Pictures pictures;
  return pictures;
}

void DeleteBitmap(HBITMAP* bitmap) {
  if (*bitmap) DeleteObject(*bitmap);
  *bitmap = nullptr;
}

}  // namespace

void SetPicturePaths(const std::string& workingDirectory) {
  Pictures& p = Slots();
  p.iconPath = workingDirectory + "\\LOGOICON.ICO";
  p.backgroundPath = workingDirectory + "\\BACKGROUND.JPG";
  p.splashPath = workingDirectory + "\\SPLASHSCREEN.JPG";
  p.largePicturePath = workingDirectory + "\\PROGRESSBAR_BIRD.JPG";
}

void LoadButtonBitmaps(HINSTANCE instance) {
  Pictures& p = Slots();
  for (int i = 0; i < kButtonPictureCount; ++i) {
    if (!p.okButton[i]) {
      p.okButton[i] = static_cast<HBITMAP>(LoadImageA(
          instance, MAKEINTRESOURCEA(kOkButtonBitmaps[i]), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    }
    if (!p.cancelButton[i]) {
      p.cancelButton[i] =
          static_cast<HBITMAP>(LoadImageA(instance, MAKEINTRESOURCEA(kCancelButtonBitmaps[i]),
                                          IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    }
  }
}

const HBITMAP* OkButtonBitmaps() { return Slots().okButton; }
const HBITMAP* CancelButtonBitmaps() { return Slots().cancelButton; }

HICON WindowIcon() {
  Pictures& p = Slots();
  if (!p.icon) {
    p.icon = static_cast<HICON>(
        LoadImageA(nullptr, p.iconPath.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
  }
  return p.icon;
}

HBITMAP SplashPicture() {
  Pictures& p = Slots();
  if (!p.background) p.background = LoadPicture(p.splashPath);
  return p.background;
}

HBITMAP BackgroundPicture() {
  Pictures& p = Slots();
  if (!p.background) p.background = LoadPicture(p.backgroundPath);
  return p.background;
}

HBITMAP LargePicture() {
  Pictures& p = Slots();
  if (!p.largePicture) p.largePicture = LoadPicture(p.largePicturePath);
  return p.largePicture;
}

HBITMAP CurrentBackground() { return Slots().background; }
HBITMAP CurrentLargePicture() { return Slots().largePicture; }

void EmptyBackground() { DeleteBitmap(&Slots().background); }

void SetWindowIcons(HWND window) {
  HICON icon = WindowIcon();
  SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

}  // namespace ui

void ReleasePictures() {
  ui::Pictures& p = ui::Slots();
  for (int i = 0; i < kButtonPictureCount; ++i) {
    ui::DeleteBitmap(&p.okButton[i]);
    ui::DeleteBitmap(&p.cancelButton[i]);
  }
  ui::DeleteBitmap(&p.background);
  ui::DeleteBitmap(&p.largePicture);
  if (p.icon) DestroyIcon(p.icon);
  p.icon = nullptr;
}
