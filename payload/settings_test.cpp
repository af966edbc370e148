#include "payload/settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>

#include "payload/payload_reader.h"
#include "tests/payload_builder.h"
#include "tests/test_paths.h"
#include "tests/text_cases.h"

namespace payload {

namespace {

using testing::ElementsAre;

// Shaped like the shipped CONFIG.TXT: keys in its order and spelling, CR LF
// line ends, the content id quoted and the catalog id empty.
const char kShippedLikeConfig[] =
    "TorvaneIISLogServer=logs.example.test\r\n"
    "DotNetFrameworkVersion=1.1\r\n"
    "DotNetFramework_MD5_Key=52456ac39bbb4640930d155c15160556\r\n"
    "DotNetFramework_Primary_URL=http://dl.example.test/install/dotnet1/dotnetfx.exe\r\n"
    "DotNetFramework_Secondary_URL=http://dl.example.test/install/dotnet2/dotnetfx.exe\r\n"
    "DotNetServicePackVersion=SP1\r\n"
    "DotNetServicePack_MD5_Key=4ce3fe2d9d6e0b2e8e4d1f0f0a1c0b6e\r\n"
    "DotNetFramework_ServicePack_Primary_URL="
    "http://dl.example.test/install/dotnet1/NDP1.1sp1-Kb867460-X86.exe\r\n"
    "DotNetFramework_ServicePack_Secondary_URL="
    "http://dl.example.test/install/dotnet2/NDP1.1sp1-Kb867460-X86.exe\r\n"
    "TorvaneAgentGUID={0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\r\n"
    "TorvaneAgentURL=http://cdn.example.test/installs/setupfiles/torvaneagent.msi\r\n"
    "TorvaneAgentDependency=Torvane.Services.Agent.WebServices\r\n"
    "TorvaneAgentDependency=Torvane.Ads.AgentAdEngine\r\n"
    "DeskInstall=1\r\n"
    "FILEPATH_ON_SYSTEM_STARTUP=C:\\Program Files\\Torvane\\WF\r\n"
    "PROGRESS_CAPTION=Installing.\\nPlease wait.\r\n"
    "ClientID=Kestrel\r\n"
    "DeskID=Parlor\r\n"
    "ContentID=\"Parlor_Pinball\"\r\n"
    "DisplayID=Pinball Deluxe\r\n"
    "CatalogID=\r\n"
    "WFGUID=3f2504e0-4f89-11d3-9a0c-0305e82c3301\r\n";

class SettingsTest : public testing::Test {
 protected:
  // Parses a payload whose CONFIG.TXT holds `config`.
  void Parse(const std::string& config) { ParsePayload(test_payload::Entry("CONFIG.TXT", config)); }

  void ParsePayload(const std::string& entries) {
    std::string path = scratch_.File("bootstrapper.exe");
    ASSERT_TRUE(test_paths::WriteWholeFile(path, "image" + entries));
    PayloadReader reader(path);
    config_ = parseConfiguration(reader);
  }

  std::string Get(int slot) const { return config_.settings.get(slot); }

  struct SlotValue {
    int slot;
    const char* value;
  };
  // Each listed slot holds its value.
  void ExpectSlots(std::initializer_list<SlotValue> slots) const {
    for (const SlotValue& s : slots) EXPECT_EQ(s.value, Get(s.slot)) << "slot " << s.slot;
  }

  test_paths::ScratchFolder scratch_;
  Configuration config_;
};

TEST_F(SettingsTest, ShippedLikeConfiguration) {
  Parse(kShippedLikeConfig);

  ExpectSlots({
      {DOTNETFRAMEWORK_PRIMARY_URL, "http://dl.example.test/install/dotnet1/dotnetfx.exe"},
      {DOTNETFRAMEWORK_SECONDARY_URL, "http://dl.example.test/install/dotnet2/dotnetfx.exe"},
      {TORVANEAGENTURL, "http://cdn.example.test/installs/setupfiles/torvaneagent.msi"},
      {CATALOGID, ""},
      {DESKINSTALL, "1"},
      {TORVANEAGENTGUID, "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}"},
      {DOTNETFRAMEWORKVERSION, "1"},
      {TORVANEAGENTDEPENDENCY, ""},
      {DOTNETSERVICEPACKVERSION, "1"},
      {DOTNETSERVICEPACK_MD5_KEY, "4ce3fe2d9d6e0b2e8e4d1f0f0a1c0b6e"},
      {DOTNETFRAMEWORK_MD5_KEY, "52456ac39bbb4640930d155c15160556"},
      {WFGUID, "3f2504e0-4f89-11d3-9a0c-0305e82c3301"},
      {TORVANEIISLOGSERVER, "logs.example.test"},
      {FILEPATH_ON_SYSTEM_STARTUP, "C:\\Program Files\\Torvane\\WF"},
  });
  EXPECT_EQ("Kestrel", config_.settings.clientId());
  EXPECT_EQ("Parlor", config_.settings.deskId());
  EXPECT_EQ("\"Parlor_Pinball\"", config_.settings.contentId());
  EXPECT_EQ("Pinball Deluxe", config_.settings.displayId());
  EXPECT_EQ("Installing.\n\rPlease wait.", config_.settings.progressCaption());
  EXPECT_THAT(config_.agentDependencies,
              ElementsAre("Torvane.Services.Agent.WebServices", "Torvane.Ads.AgentAdEngine"));
  EXPECT_THAT(config_.watermarks, ElementsAre("3f2504e0-4f89-11d3-9a0c-0305e82c3301"));
  EXPECT_TRUE(config_.available);
}

TEST_F(SettingsTest, NoConfigurationEntryOrAnEmptyOneIsNotAvailable) {
  ParsePayload(test_payload::Entry("EULA.TXT", "no configuration here"));
  EXPECT_FALSE(config_.available);
  Parse("");
  EXPECT_FALSE(config_.available);
  for (int slot = 0; slot < kSettingCount; ++slot) EXPECT_EQ("", Get(slot)) << slot;
  Parse("\n");
  EXPECT_TRUE(config_.available);
}

TEST_F(SettingsTest, VersionCodes) {
  const test_tables::TextCase kVersionCodes[] = {
      {"1.0", "0"}, {"1.1", "1"}, {"2.0", "2"}, {"", "1"}, {"2.0 ", "1"},
  };
  test_tables::ExpectEach(DotNetVersionCode, kVersionCodes);
  const test_tables::TextCase kServicePackCodes[] = {
      {"", "0"}, {"SP1", "1"}, {"SP2", "2"}, {"sp2", "1"}, {"SP3", "1"},
  };
  test_tables::ExpectEach(ServicePackCode, kServicePackCodes);

  Parse("DotNetFrameworkVersion=2.0\r\nDotNetServicePackVersion=\r\n");
  ExpectSlots({{DOTNETFRAMEWORKVERSION, "2"}, {DOTNETSERVICEPACKVERSION, "0"}});

  // An absent key leaves its slot empty rather than coded.
  Parse("ClientID=a\r\n");
  ExpectSlots({{DOTNETFRAMEWORKVERSION, ""}, {DOTNETSERVICEPACKVERSION, ""}});
}

TEST_F(SettingsTest, LineForms) {
  Parse(
      "cLiEnTiD=mixed\r\n"
      "DESKID =blank before equals\r\n"
      "DisplayID=one=two\r\n"
      "\r\n"
      "no equals sign\r\n"
      "ContentID==doubled\r\n"
      "=CatalogID=leading\r\n"
      "DeskInstall= kept blank \r\n"
      "TorvaneAgentGUID=first\r\n"
      "TorvaneAgentGUID=second\r\n"
      "\n\n"
      "MISTYPED_PRIMARY_URL=http://elsewhere.example.test/\r\n");
  ExpectSlots({
      {CLIENTID, "mixed"},
      {DESKID, ""},
      {DISPLAYID, ""},
      {CONTENTID, "doubled"},
      {CATALOGID, "leading"},
      {DESKINSTALL, " kept blank "},
      {TORVANEAGENTGUID, "second"},
      // An unknown key lands in no slot, above all not in the download address.
      {DOTNETFRAMEWORK_PRIMARY_URL, ""},
  });
}

TEST_F(SettingsTest, OnlyACarriageReturnIsCutFromTheValue) {
  Parse("ClientID=lf only\nDeskID=last line without end");
  ExpectSlots({{CLIENTID, "lf only"}, {DESKID, "last line without end"}});
}

TEST_F(SettingsTest, NulEndsTheText) {
  const char config[] = "ClientID=before\r\n\0DeskID=after\r\n";
  Parse(std::string(config, sizeof(config) - 1));
  ExpectSlots({{CLIENTID, "before"}, {DESKID, ""}});
}

TEST_F(SettingsTest, ProgressCaptionLineBreaks) {
  config_.settings.set(PROGRESS_CAPTION, "one\\n\\ntwo \\t \\\\n end\\");
  EXPECT_EQ("one\n\r\n\rtwo \\t \\\n\r end\\", config_.settings.progressCaption());
}

}  // namespace

}  // namespace payload
