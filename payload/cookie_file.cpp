#include "payload/cookie_file.h"

#include "platform/files.h"

namespace payload {

void writeCookieFile(std::string folder, std::string catalog_id, std::string contentId) {
  // An empty folder would put the file at the root of the current drive, and
  // "." into the player's own folder, which may be a root too.
  if (platform::IsRootOrCurrentFolder(folder)) return;
  std::string path = platform::JoinPath(folder, "cookie.txt");
  platform::RemoveFile(path);
  // Binary mode with an explicit CR LF gives the same bytes on every build.
  platform::UniqueFile file = platform::OpenFile(path, "wb");
  if (!file) return;
  std::string text = "Content=" + contentId + "\r\nCatalog=" + catalog_id;
  std::fwrite(text.data(), 1, text.size(), file.get());
}

std::string unquote(std::string text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

}  // namespace payload
