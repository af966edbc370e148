// The posix registry: a text file in a subset of the .reg export format,
//
//   [HKEY_CURRENT_USER\SOFTWARE\Torvane]      (or HKCU, HKEY_LOCAL_MACHINE, HKLM)
//   "Name"="text with \\ and \" escaped"      (@ names the default value)
//   "Count"=dword:0000000a
//   "Blob"=hex:01,02,ff
//
// It is read again on every call, so a test may change it at any time. Key
// and value names compare case-insensitively, as on Windows.
#include "platform/registry.h"

#include <cstdlib>
#include <string>

#include "platform/ascii.h"
#include "platform/files.h"

namespace platform {
namespace {

std::string RegistryFilePath() {
  const char* path = std::getenv("KESTREL_REGISTRY_FILE");
  if (path && *path) return path;
  return TempFolder() + "kestrel-registry.reg";
}

std::string TrimKey(std::string key) {
  while (!key.empty() && key.back() == '\\') key.pop_back();
  return key;
}

// Splits "[ROOT\key]" into its root and key; false for other lines.
bool ParseKeyLine(const std::string& line, RegistryRoot* root, std::string* key) {
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
  std::string path = line.substr(1, line.size() - 2);
  size_t slash = path.find('\\');
  std::string root_name = path.substr(0, slash);
  if (EqualsIgnoringCase(root_name, "HKEY_CURRENT_USER") || EqualsIgnoringCase(root_name, "HKCU")) {
    *root = RegistryRoot::kCurrentUser;
  } else if (EqualsIgnoringCase(root_name, "HKEY_LOCAL_MACHINE") ||
             EqualsIgnoringCase(root_name, "HKLM")) {
    *root = RegistryRoot::kLocalMachine;
  } else {
    return false;
  }
  *key = slash == std::string::npos ? std::string() : TrimKey(path.substr(slash + 1));
  return true;
}

// Reads a quoted string starting at text[*pos] == '"'; leaves *pos after the
// closing quote.
bool ParseQuoted(const std::string& text, size_t* pos, std::string* value) {
  if (*pos >= text.size() || text[*pos] != '"') return false;
  value->clear();
  for (size_t i = *pos + 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\' && i + 1 < text.size()) c = text[++i];
    *value += c;
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses the data after '=' into the value's raw bytes.
bool ParseData(const std::string& data, std::string* bytes) {
  bytes->clear();
  if (!data.empty() && data[0] == '"') {
    size_t pos = 0;
    if (!ParseQuoted(data, &pos, bytes)) return false;
    *bytes += '\0';
    return true;
  }
  if (data.compare(0, 6, "dword:") == 0) {
    std::string digits = data.substr(6);
    if (digits.empty() || digits.size() > 8) return false;
    uint32_t value = 0;
    for (char c : digits) {
      int digit = HexDigit(c);
      if (digit < 0) return false;
      value = value * 16 + static_cast<uint32_t>(digit);
    }
    for (int i = 0; i < 4; ++i) *bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return true;
  }
  if (data.compare(0, 4, "hex:") == 0) {
    int high = -1;
    for (size_t i = 4; i < data.size(); ++i) {
      char c = data[i];
      if (c == ',' || c == ' ') continue;
      int digit = HexDigit(c);
      if (digit < 0) return false;
      if (high < 0) {
        high = digit;
      } else {
        *bytes += static_cast<char>(high * 16 + digit);
        high = -1;
      }
    }
    return high < 0;
  }
  return false;
}

class FileRegistry : public Registry {
 public:
  bool ReadValue(RegistryRoot root, const std::string& key, const std::string& name,
                 size_t max_bytes, std::string* bytes) override {
    std::string text;
    if (!ReadWholeFile(RegistryFilePath(), &text)) return false;
    const std::string wanted_key = TrimKey(key);
    bool in_key = false;
    bool found = false;
    std::string found_bytes;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      start = end + 1;
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      if (line.empty() || line[0] == ';') continue;
      RegistryRoot line_root;
      std::string line_key;
      if (line[0] == '[') {
        in_key = ParseKeyLine(line, &line_root, &line_key) && line_root == root &&
                 EqualsIgnoringCase(line_key, wanted_key);
        continue;
      }
      if (!in_key) continue;
      std::string value_name;
      size_t pos = 0;
      if (line[0] == '@') {
        pos = 1;
      } else if (!ParseQuoted(line, &pos, &value_name)) {
        continue;
      }
      if (pos >= line.size() || line[pos] != '=' || !EqualsIgnoringCase(value_name, name)) continue;
      std::string value_bytes;
      if (line.compare(pos + 1, std::string::npos, "-") == 0) {
        found = false;  // "Name"=- deletes the value
      } else if (ParseData(line.substr(pos + 1), &value_bytes)) {
        // A later entry overrides an earlier one, as an import would.
        found = true;
        found_bytes = value_bytes;
      }
    }
    if (!found || found_bytes.size() > max_bytes) return false;
    *bytes = found_bytes;
    return true;
  }
};

}  // namespace

Registry& SystemRegistry() {
  static FileRegistry* registry = new FileRegistry;
  return *registry;
}

}  // namespace platform
