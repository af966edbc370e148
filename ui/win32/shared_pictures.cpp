#include "ui/win32/shared_pictures.h"

#include "ui/win32/picture_loader.h"
#include "ui/window_sequence.h"

namespace ui {

namespace {

struct Pictures {
  std::string icon_path;
  std::string background_path;
  std::string splash_path;
  std::string large_picture_path;
  HICON icon = nullptr;
  HBITMAP background = nullptr;
  HBITMAP large_picture = nullptr;
  HBITMAP ok_button[kButtonPictureCount] = {};
  HBITMAP cancel_button[kButtonPictureCount] = {};
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

void SetPicturePaths(const std::string& working_directory) {
  Pictures& p = Slots();
  p.icon_path = working_directory + "\\LOGOICON.ICO";
  p.background_path = working_directory + "\\BACKGROUND.JPG";
  p.splash_path = working_directory + "\\SPLASHSCREEN.JPG";
  p.large_picture_path = working_directory + "\\PROGRESSBAR_BIRD.JPG";
}

void LoadButtonBitmaps(HINSTANCE instance) {
  Pictures& p = Slots();
  for (int i = 0; i < kButtonPictureCount; ++i) {
    if (!p.ok_button[i]) {
      p.ok_button[i] = static_cast<HBITMAP>(LoadImageA(
          instance, MAKEINTRESOURCEA(kOkButtonBitmaps[i]), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    }
    if (!p.cancel_button[i]) {
      p.cancel_button[i] =
          static_cast<HBITMAP>(LoadImageA(instance, MAKEINTRESOURCEA(kCancelButtonBitmaps[i]),
                                          IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    }
  }
}

const HBITMAP* OkButtonBitmaps() { return Slots().ok_button; }
const HBITMAP* CancelButtonBitmaps() { return Slots().cancel_button; }

HICON WindowIcon() {
  Pictures& p = Slots();
  if (!p.icon) {
    p.icon = static_cast<HICON>(
        LoadImageA(nullptr, p.icon_path.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
  }
  return p.icon;
}

HBITMAP SplashPicture() {
  Pictures& p = Slots();
  if (!p.background) p.background = LoadPicture(p.splash_path);
  return p.background;
}

HBITMAP BackgroundPicture() {
  Pictures& p = Slots();
  if (!p.background) p.background = LoadPicture(p.background_path);
  return p.background;
}

HBITMAP LargePicture() {
  Pictures& p = Slots();
  if (!p.large_picture) p.large_picture = LoadPicture(p.large_picture_path);
  return p.large_picture;
}

HBITMAP CurrentBackground() { return Slots().background; }
HBITMAP CurrentLargePicture() { return Slots().large_picture; }

void EmptyBackground() { DeleteBitmap(&Slots().background); }

void SetWindowIcons(HWND window) {
  HICON icon = WindowIcon();
  SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void ReleasePictures() {
  Pictures& p = Slots();
  for (int i = 0; i < kButtonPictureCount; ++i) {
    DeleteBitmap(&p.ok_button[i]);
    DeleteBitmap(&p.cancel_button[i]);
  }
  DeleteBitmap(&p.background);
  DeleteBitmap(&p.large_picture);
  if (p.icon) DestroyIcon(p.icon);
  p.icon = nullptr;
}

}  // namespace ui
