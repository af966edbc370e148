#include "engine/html_page.h"

#include "platform/ascii.h"

namespace engine {

namespace {

constexpr size_t kLongestTitle = 60;

}  // namespace

bool LooksLikeHtml(const std::string& lead, const std::string& content_type, std::string* title) {
  title->clear();
  const std::string text = platform::AsciiLower(lead);
  size_t start = text.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;  // a UTF-8 byte order mark
  start = text.find_first_not_of(" \t\r\n", start);
  if (start == std::string::npos || text[start] != '<') return false;
  bool html = platform::AsciiLower(content_type).compare(0, 9, "text/html") == 0;
  for (const char* tag : {"<!doctype html", "<html", "<head", "<body", "<title"}) {
    if (text.find(tag, start) != std::string::npos) html = true;
  }
  if (!html) return false;
  const size_t open = text.find("<title");
  const size_t from = open == std::string::npos ? open : text.find('>', open);
  const size_t to = from == std::string::npos ? from : text.find("</title", from);
  if (to != std::string::npos) {
    for (size_t i = from + 1; i < to && title->size() < kLongestTitle; ++i) {
      const char c = lead[i];
      const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
      if (blank && (title->empty() || title->back() == ' ')) continue;
      if (static_cast<unsigned char>(c) >= 0x20 || blank) title->push_back(blank ? ' ' : c);
    }
    while (!title->empty() && title->back() == ' ') title->pop_back();
  }
  return true;
}

}  // namespace engine
