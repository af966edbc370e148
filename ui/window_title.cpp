#include "ui/window_title.h"

namespace ui {

namespace {

// CONTENTID arrives quoted from the configuration ("Prefix_Name"): the name
// is what follows the first "_", without the closing character.
std::string GameNameFromContentId(const std::string& contentId) {
  if (contentId.size() < 3) return std::string();
  const size_t underscore = contentId.find('_');
  if (underscore == std::string::npos) return contentId;
  const size_t end = contentId.size() - 1;
  if (underscore + 1 >= end) return std::string();
  return contentId.substr(underscore + 1, end - underscore - 1);
}

}  // namespace

std::string ComputeWindowTitle(const payload::Settings& settings) {
  std::string title = settings.clientId();
  if (title.empty()) title = settings.deskId();
  if (title.empty()) title = "Kestrel Bootstrapper";
  std::string game = settings.displayId();
  if (game.empty()) game = GameNameFromContentId(settings.contentId());
  if (!game.empty()) title += " - " + game;
  return title;
}

}  // namespace ui
