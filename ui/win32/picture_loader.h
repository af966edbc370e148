// Turns a picture file (JPEG, or anything the system's picture decoder reads)
// into a bitmap.
#pragma once

#include <windows.h>

#include <string>

namespace ui {

// A bitmap of the picture's own size that the caller owns, or null when the
// file is missing, empty or not a picture. Reports nothing.
HBITMAP LoadPicture(const std::string& path);

}  // namespace ui
