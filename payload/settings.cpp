#include "payload/settings.h"

#include "payload/config_lines.h"
#include "payload/payload_reader.h"
#include "platform/ascii.h"

namespace payload {

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
    {"DOTNETFRAMEWORK_SHA256_KEY", DOTNETFRAMEWORK_SHA256_KEY},
    {"DOTNETSERVICEPACK_SHA256_KEY", DOTNETSERVICEPACK_SHA256_KEY},
    {"TORVANEAGENT_SHA256_KEY", TORVANEAGENT_SHA256_KEY},
    {"DOTNETFRAMEWORK_SIGNER", DOTNETFRAMEWORK_SIGNER},
    {"DOTNETSERVICEPACK_SIGNER", DOTNETSERVICEPACK_SIGNER},
    {"TORVANEAGENT_SIGNER", TORVANEAGENT_SIGNER},
};

std::string Settings::get(int slot) const { return InRange(slot) ? slots_[slot] : std::string(); }

void Settings::set(int slot, const std::string& value) {
  if (!InRange(slot)) return;
  slots_[slot] = value;
  is_set_[slot] = true;
}

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

void Configuration::Store(const std::string& upper_key, const std::string& value) {
  // An unknown key is dropped: a mistyped one must not land in any slot.
  const int slot = FindConfigSlot(upper_key);
  switch (slot) {
    case -1:
      break;
    case DOTNETFRAMEWORKVERSION:
      settings.set(slot, DotNetVersionCode(value));
      break;
    case TORVANEAGENTDEPENDENCY:
      agentDependencies.push_back(value);
      break;
    case DOTNETSERVICEPACKVERSION:
      settings.set(slot, ServicePackCode(value));
      break;
    case WFGUID:
      settings.set(slot, value);
      watermarks.push_back(value);
      break;
    default:
      settings.set(slot, value);
      break;
  }
}

Configuration ParseConfigurationText(const std::string& text) {
  Configuration configuration;
  // The reader sees nothing after a NUL; a text that is empty before it is no configuration.
  configuration.available = !text.empty() && text[0] != '\0';
  for (const ConfigLine& line : SplitConfigText(text)) {
    if (line.taken) configuration.Store(platform::AsciiUpper(line.key), line.value);
  }
  return configuration;
}

Configuration parseConfiguration(const PayloadReader& reader) {
  const char* data = reader.entryData("CONFIG.TXT");
  // The entry is NUL-terminated, so a NUL inside it ends the text there.
  return ParseConfigurationText(data ? std::string(data) : std::string());
}

}  // namespace payload
