// The settings read from the payload's CONFIG.TXT: one text per known key,
// addressed by its slot. Written once at start-up, read-only afterwards.
#pragma once

#include <map>
#include <string>
#include <vector>

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
};
constexpr int kSettingCount = 21;

struct ConfigKey {
  const char* name;  // upper case, as matched
  SettingId slot;
};
// The 21 known keys in slot order.
extern const ConfigKey kConfigKeys[kSettingCount];

class Settings {
 public:
  // A copy of the slot's text; empty when never set (reading adds nothing).
  std::string get(int slot) const;
  void set(int slot, const std::string& value);
  void Clear();

  std::string clientId() const { return get(CLIENTID); }
  std::string deskId() const { return get(DESKID); }
  std::string contentId() const { return get(CONTENTID); }
  std::string displayId() const { return get(DISPLAYID); }
  // The caption with every backslash-n turned into LF CR.
  std::string progressCaption() const;

 private:
  std::map<int, std::string> slots_;
};

// The process-wide store and the ordered TORVANEAGENTDEPENDENCY values.
Settings& GlobalSettings();
std::vector<std::string>& agentDependencies();

// Parses CONFIG.TXT of the payload into GlobalSettings() and agentDependencies();
// posts 3010, then 3019 or 3020.
void parseConfiguration(const PayloadReader& reader);

// How the reader takes one line of CONFIG.TXT (the text up to an LF): its
// fields between runs of "="; a line of exactly two is a key and a value, the
// value without the CR of a CR LF line end (an LF-only line keeps its value
// whole). Every other line is ignored. `bootpack lint` judges lines by it.
std::vector<std::string> ConfigLineFields(const std::string& line);
// True for a line the reader takes, with its key (as written) and value.
bool SplitConfigLine(const std::string& line, std::string* key, std::string* value);
// Dispatches one key and value (key already upper-cased); unknown keys are ignored.
void storeSetting(const std::string& key, const std::string& value);

// The version codes stored for DOTNETFRAMEWORKVERSION and DOTNETSERVICEPACKVERSION.
std::string DotNetVersionCode(const std::string& value);
std::string ServicePackCode(const std::string& value);
