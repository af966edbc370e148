#include "payload/config_lines.h"

#include "payload/payload_reader.h"
#include "payload/settings.h"
#include "platform/ascii.h"

namespace payload {

namespace {

// Splits at runs of `separator`; empty fields never arise.
std::vector<std::string> SplitRuns(const std::string& text, char separator) {
  std::vector<std::string> fields;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t begin = text.find_first_not_of(separator, pos);
    if (begin == std::string::npos) break;
    size_t end = text.find(separator, begin);
    if (end == std::string::npos) end = text.size();
    fields.push_back(text.substr(begin, end - begin));
    pos = end;
  }
  return fields;
}

ConfigLine ReadLine(int number, const std::string& text, bool ends_with_lf) {
  ConfigLine line;
  line.number = number;
  line.text = text;
  line.ends_with_lf = ends_with_lf;
  std::vector<std::string> fields = SplitRuns(text, '=');
  line.field_count = fields.size();
  if (fields.size() != 2) return line;
  line.taken = true;
  line.key = fields[0];
  line.value = fields[1];
  // Only the CR of a CR LF line end goes; LF-only text keeps its values whole.
  if (!line.value.empty() && line.value.back() == '\r') line.value.pop_back();
  line.slot = FindConfigSlot(platform::AsciiUpper(line.key));
  return line;
}

}  // namespace

int FindConfigSlot(const std::string& upper_key) {
  for (const ConfigKey& row : kConfigKeys) {
    if (upper_key == row.name) return row.slot;
  }
  return -1;
}

std::vector<ConfigLine> SplitConfigText(const std::string& full_text) {
  const std::string text = full_text.substr(0, full_text.find('\0'));
  std::vector<ConfigLine> lines;
  size_t begin = 0;
  int number = 1;
  while (begin < text.size()) {
    size_t lf = text.find('\n', begin);
    bool has_lf = lf != std::string::npos;
    lines.push_back(
        ReadLine(number, text.substr(begin, has_lf ? lf - begin : std::string::npos), has_lf));
    if (!has_lf) break;
    begin = lf + 1;
    ++number;
  }
  return lines;
}

}  // namespace payload
