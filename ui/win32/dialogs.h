// How the windows open one another; each opens modally without an owner and
// returns when its window has ended.
#pragma once

#include <string>

namespace ui {
class WindowHost;
}  // namespace ui

namespace ui {

void ShowLicenceWindow(WindowHost& host, const std::string& licence_text);
// Switches the logger's reporting on (9999), then shows the progress window.
void ShowProgressWindow(WindowHost& host);

}  // namespace ui
