#include "platform/ascii.h"

namespace platform {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string AsciiLower(std::string text) {
  for (char& c : text) c = Lower(c);
  return text;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool EndsWithIgnoringCase(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         EqualsIgnoringCase(text.substr(text.size() - tail.size()), tail);
}

}  // namespace platform
