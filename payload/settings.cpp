#include "payload/settings.h"

#include <cstring>

#include "diagnostics/event_logger.h"
#include "payload/payload_reader.h"

const ConfigKey kConfigKeys[kSettingCount] = {
    {"DOTNETFRAMEWORK_PRIMARY_URL", DOTNETFRAMEWORK_PRIMARY_URL},
    {"DOTNETFRAMEWORK_SECONDARY_URL", DOTNETFRAMEWORK_SECONDARY_URL},
    {"TORVANEAGENTURL", TORVANEAGENTURL},
    {"CLIENTID", CLIENTID},
    {"DESKID", DESKID},
    {"CONTENTID", CONTENTID},
    {"DISPLAYID", DISPLAYID},
    {"CATALOGID", CATALOGID},
    {"DESKINSTALL", DESKINSTALL},
    {"TORVANEAGENTGUID", TORVANEAGENTGUID},
    {"PROGRESS_CAPTION", PROGRESS_CAPTION},
    {"DOTNETFRAMEWORKVERSION", DOTNETFRAMEWORKVERSION},
    {"TORVANEAGENTDEPENDENCY", TORVANEAGENTDEPENDENCY},
    {"DOTNETSERVICEPACKVERSION", DOTNETSERVICEPACKVERSION},
    {"DOTNETFRAMEWORK_SERVICEPACK_PRIMARY_URL", DOTNETFRAMEWORK_SERVICEPACK_PRIMARY_URL},
    {"DOTNETFRAMEWORK_SERVICEPACK_SECONDARY_URL", DOTNETFRAMEWORK_SERVICEPACK_SECONDARY_URL},
    {"DOTNETSERVICEPACK_MD5_KEY", DOTNETSERVICEPACK_MD5_KEY},
    {"DOTNETFRAMEWORK_MD5_KEY", DOTNETFRAMEWORK_MD5_KEY},
    {"WFGUID", WFGUID},
    {"TORVANEIISLOGSERVER", TORVANEIISLOGSERVER},
    {"FILEPATH_ON_SYSTEM_STARTUP", FILEPATH_ON_SYSTEM_STARTUP},
};

namespace {

constexpr EventId kDetachmentStarted = 3010;
constexpr EventId kDetachedSuccessfully = 3019;
constexpr EventId kConfigurationNotAvailable = 3020;

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

int FindSlot(const std::string& key) {
  for (const ConfigKey& row : kConfigKeys) {
    if (key == row.name) return row.slot;
  }
  return -1;
}

}  // namespace

std::string Settings::get(int slot) const {
  auto it = slots_.find(slot);
  return it == slots_.end() ? std::string() : it->second;
}

void Settings::set(int slot, const std::string& value) { slots_[slot] = value; }

void Settings::Clear() { slots_.clear(); }

std::string Settings::progressCaption() const {
  // The configuration writes line breaks as backslash-n; the progress window
  // wants LF CR in their place.
  const std::string caption = get(PROGRESS_CAPTION);
  std::string result;
  result.reserve(caption.size());
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '\\' && i + 1 < caption.size() && caption[i + 1] == 'n') {
      result += "\n\r";
      ++i;
    } else {
      result += caption[i];
    }
  }
  return result;
}

Settings& GlobalSettings() {
  static Settings* settings = new Settings;  // lives until the process ends
  return *settings;
}

std::vector<std::string>& agentDependencies() {
  static auto* dependencies = new std::vector<std::string>;
  return *dependencies;
}

std::string DotNetVersionCode(const std::string& value) {
  if (value == "1.0") return "0";
  if (value == "2.0") return "2";
  return "1";
}

std::string ServicePackCode(const std::string& value) {
  if (value.empty()) return "0";
  if (value == "SP1") return "1";
  if (value == "SP2") return "2";
  return "1";
}

void storeSetting(const std::string& key, const std::string& value) {
  int slot = FindSlot(key);
  // An unknown key is dropped: a mistyped one must not land in any slot.
  if (slot < 0) return;
  Settings& settings = GlobalSettings();
  switch (slot) {
    case DOTNETFRAMEWORKVERSION:
      settings.set(slot, DotNetVersionCode(value));
      break;
    case TORVANEAGENTDEPENDENCY:
      agentDependencies().push_back(value);
      break;
    case DOTNETSERVICEPACKVERSION:
      settings.set(slot, ServicePackCode(value));
      break;
    case WFGUID:
      settings.set(slot, value);
      ReportWatermark(value);
      break;
    case TORVANEIISLOGSERVER:
      settings.set(slot, value);
      if (EventLogger* logger = GlobalEventLogger()) logger->SetLogServer(value);
      break;
    default:
      settings.set(slot, value);
      break;
  }
}

std::vector<std::string> ConfigLineFields(const std::string& line) { return SplitRuns(line, '='); }

bool SplitConfigLine(const std::string& line, std::string* key, std::string* value) {
  std::vector<std::string> fields = ConfigLineFields(line);
  if (fields.size() != 2) return false;
  *key = fields[0];
  *value = fields[1];
  // Only the CR of a CR LF line end goes; LF-only text keeps its values whole.
  if (!value->empty() && value->back() == '\r') value->pop_back();
  return true;
}

void parseConfiguration(const PayloadReader& reader) {
  PostEvent(kDetachmentStarted);
  const char* data = reader.entryData("CONFIG.TXT");
  // The entry is NUL-terminated, so a NUL inside it ends the text there.
  const std::string text = data ? std::string(data) : std::string();
  if (text.empty()) {
    PostEvent(kConfigurationNotAvailable);
    return;
  }
  for (const std::string& line : SplitRuns(text, '\n')) {
    std::string key, value;
    if (SplitConfigLine(line, &key, &value)) storeSetting(ToUpperAscii(key), value);
  }
  PostEvent(kDetachedSuccessfully);
}
