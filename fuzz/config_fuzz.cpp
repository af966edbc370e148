// The configuration parser over CONFIG.TXT bytes, then every setting read the
// way the rest of the program reads them.
#include "fuzz/fuzz_support.h"
#include "payload/config_lines.h"
#include "payload/payload_reader.h"
#include "payload/settings.h"
#include "platform/ascii.h"

namespace {

// The caption conversion done the long way: the first backslash-n replaced
// by LF CR until none is left.
std::string CaptionByRepeatedReplace(std::string text) {
  for (size_t at = text.find("\\n"); at != std::string::npos; at = text.find("\\n")) {
    text.replace(at, 2, "\n\r");
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string visible = text.substr(0, text.find('\0'));

  // The lines put back together give the text up to its first NUL.
  std::vector<payload::ConfigLine> lines = payload::SplitConfigText(text);
  std::string joined;
  for (size_t i = 0; i < lines.size(); ++i) {
    const payload::ConfigLine& line = lines[i];
    FUZZ_CHECK(line.number == static_cast<int>(i) + 1);
    FUZZ_CHECK(line.text.find('\n') == std::string::npos);
    FUZZ_CHECK(line.ends_with_lf || i + 1 == lines.size());
    joined += line.text;
    if (line.ends_with_lf) joined += '\n';
    FUZZ_CHECK(line.taken == (line.field_count == 2));
    if (line.taken) {
      FUZZ_CHECK(!line.key.empty() && line.key.find('=') == std::string::npos);
      FUZZ_CHECK(line.value.find('=') == std::string::npos);
      FUZZ_CHECK(line.slot == payload::FindConfigSlot(platform::AsciiUpper(line.key)));
    } else {
      FUZZ_CHECK(line.slot == -1);
    }
  }
  FUZZ_CHECK(joined == visible);

  payload::Configuration configuration = payload::ParseConfigurationText(text);
  FUZZ_CHECK(configuration.available == !visible.empty());
  const payload::Settings& settings = configuration.settings;
  for (int slot = 0; slot < payload::kSettingCount; ++slot) {
    const std::string value = settings.get(slot);
    FUZZ_CHECK(value.find('\n') == std::string::npos && value.find('=') == std::string::npos);
    FUZZ_CHECK(settings.has(slot) || value.empty());
  }
  // Reading added nothing.
  for (int slot = 0; slot < payload::kSettingCount; ++slot) {
    if (!settings.has(slot)) FUZZ_CHECK(settings.get(slot).empty());
  }
  FUZZ_CHECK(!settings.has(payload::TORVANEAGENTDEPENDENCY));
  if (settings.has(payload::DOTNETFRAMEWORKVERSION)) {
    const std::string code = settings.get(payload::DOTNETFRAMEWORKVERSION);
    FUZZ_CHECK(code == "0" || code == "1" || code == "2");
  }
  if (settings.has(payload::DOTNETSERVICEPACKVERSION)) {
    const std::string code = settings.get(payload::DOTNETSERVICEPACKVERSION);
    FUZZ_CHECK(code == "0" || code == "1" || code == "2");
  }
  FUZZ_CHECK(settings.clientId() == settings.get(payload::CLIENTID));
  FUZZ_CHECK(settings.deskId() == settings.get(payload::DESKID));
  FUZZ_CHECK(settings.contentId() == settings.get(payload::CONTENTID));
  FUZZ_CHECK(settings.displayId() == settings.get(payload::DISPLAYID));
  const std::string caption = settings.progressCaption();
  FUZZ_CHECK(caption == CaptionByRepeatedReplace(settings.get(payload::PROGRESS_CAPTION)));
  FUZZ_CHECK(caption.find("\\n") == std::string::npos);

  // Every taken line of a known key is stored; the counted lists match.
  size_t dependencies = 0;
  size_t watermarks = 0;
  for (const payload::ConfigLine& line : lines) {
    if (!line.taken || line.slot < 0) continue;
    FUZZ_CHECK(settings.has(line.slot) || line.slot == payload::TORVANEAGENTDEPENDENCY);
    if (line.slot == payload::TORVANEAGENTDEPENDENCY) ++dependencies;
    if (line.slot == payload::WFGUID) ++watermarks;
  }
  FUZZ_CHECK(configuration.agentDependencies.size() == dependencies);
  FUZZ_CHECK(configuration.watermarks.size() == watermarks);
  if (watermarks != 0) FUZZ_CHECK(configuration.watermarks.back() == settings.get(payload::WFGUID));
  return 0;
}
