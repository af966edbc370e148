// The pictures the three windows share, main thread only: each slot is
// loaded by the first window that needs it (a window finding a slot empty
// tries again) and kept until ReleasePictures at shutdown.
#pragma once

#include <windows.h>

#include <string>

#include "ui/layout.h"

namespace ui {

// Builds the picture paths from the working directory.
void SetPicturePaths(const std::string& working_directory);
// Loads the two sets of four button bitmaps from the program's resources.
void LoadButtonBitmaps(HINSTANCE instance);

const HBITMAP* OkButtonBitmaps();
const HBITMAP* CancelButtonBitmaps();

// Each loads its slot if empty and returns it (null when it cannot be loaded).
HICON WindowIcon();
// The background slot holds the splash picture while the splash is up.
HBITMAP SplashPicture();
HBITMAP BackgroundPicture();
HBITMAP LargePicture();
// The slot as it is, without loading.
HBITMAP CurrentBackground();
HBITMAP CurrentLargePicture();
// Drops the splash picture so the next window loads "BACKGROUND.JPG".
void EmptyBackground();

// Sets the window icon as the large and the small icon of `window`.
void SetWindowIcons(HWND window);

}  // namespace ui
