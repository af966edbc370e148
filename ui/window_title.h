// The title of the splash, licence and progress windows.
#pragma once

#include <string>

#include "payload/settings.h"

namespace ui {

// "<CLIENTID, else DESKID, else Kestrel Bootstrapper> - <game name>", without
// the " - " part when the game name is empty. The game name is DISPLAYID, or
// else derived from CONTENTID.
std::string ComputeWindowTitle(const payload::Settings& settings);

}  // namespace ui
