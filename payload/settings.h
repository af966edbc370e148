// The settings read from the payload's CONFIG.TXT: one text per known key,
// addressed by its slot.
#pragma once

#include <string>
#include <vector>

namespace payload {

class PayloadReader;

enum SettingId {
  DOTNETFRAMEWORK_PRIMARY_URL = 0,
  DOTNETFRAMEWORK_SECONDARY_URL = 1,
  TORVANEAGENTURL = 2,
  CLIENTID = 3,
  DESKID = 4,
  CONTENTID = 5,
  DISPLAYID = 6,
  CATALOGID = 7,
  DESKINSTALL = 8,
  TORVANEAGENTGUID = 9,
  PROGRESS_CAPTION = 10,
  DOTNETFRAMEWORKVERSION = 11,
  TORVANEAGENTDEPENDENCY = 12,
  DOTNETSERVICEPACKVERSION = 13,
  DOTNETFRAMEWORK_SERVICEPACK_PRIMARY_URL = 14,
  DOTNETFRAMEWORK_SERVICEPACK_SECONDARY_URL = 15,
  DOTNETSERVICEPACK_MD5_KEY = 16,
  DOTNETFRAMEWORK_MD5_KEY = 17,
  WFGUID = 18,
  TORVANEIISLOGSERVER = 19,
  FILEPATH_ON_SYSTEM_STARTUP = 20,
  // Optional: the SHA-256 each download must have as well, 64 hex digits.
  DOTNETFRAMEWORK_SHA256_KEY = 21,
  DOTNETSERVICEPACK_SHA256_KEY = 22,
  TORVANEAGENT_SHA256_KEY = 23,
  // Optional: whose Authenticode signature each download must carry.
  DOTNETFRAMEWORK_SIGNER = 24,
  DOTNETSERVICEPACK_SIGNER = 25,
  TORVANEAGENT_SIGNER = 26,
};
constexpr int kSettingCount = 27;

struct ConfigKey {
  const char* name;  // upper case, as matched
  SettingId slot;
};
// The known keys in slot order.
extern const ConfigKey kConfigKeys[kSettingCount];

class Settings {
 public:
  // A copy of the slot's text; empty when never set (reading adds nothing).
  std::string get(int slot) const;
  // Whether a line set the slot (its text may still be empty).
  bool has(int slot) const { return InRange(slot) && is_set_[slot]; }
  void set(int slot, const std::string& value);

  std::string clientId() const { return get(CLIENTID); }
  std::string deskId() const { return get(DESKID); }
  std::string contentId() const { return get(CONTENTID); }
  std::string displayId() const { return get(DISPLAYID); }
  // The caption with every backslash-n turned into LF CR.
  std::string progressCaption() const;

 private:
  static bool InRange(int slot) { return slot >= 0 && slot < kSettingCount; }

  std::string slots_[kSettingCount];
  bool is_set_[kSettingCount] = {};
};

// What CONFIG.TXT configures, as the reader takes it. Built once at start-up,
// read-only afterwards.
struct Configuration {
  bool available = false;  // a CONFIG.TXT with some text
  Settings settings;
  std::vector<std::string> agentDependencies;  // every TORVANEAGENTDEPENDENCY, in file order
  std::vector<std::string> watermarks;         // every WFGUID; each one is reported

  // Stores one key (already upper-cased) and its value; unknown keys are ignored.
  void Store(const std::string& upper_key, const std::string& value);
};

// Reads a CONFIG.TXT text by the grammar of payload/config_lines.h.
Configuration ParseConfigurationText(const std::string& text);
// The same for the payload's CONFIG.TXT entry; not available without one.
Configuration parseConfiguration(const PayloadReader& reader);

// The version codes stored for DOTNETFRAMEWORKVERSION and DOTNETSERVICEPACKVERSION.
std::string DotNetVersionCode(const std::string& value);
std::string ServicePackCode(const std::string& value);

}  // namespace payload
