#include "payload/settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "payload/payload_reader.h"
#include "tests/payload_builder.h"
#include "tests/test_paths.h"

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

  test_paths::ScratchFolder scratch_;
  Configuration config_;
};

TEST_F(SettingsTest, ShippedLikeConfiguration) {
  Parse(kShippedLikeConfig);

  EXPECT_EQ("http://dl.example.test/install/dotnet1/dotnetfx.exe",
            Get(DOTNETFRAMEWORK_PRIMARY_URL));
  EXPECT_EQ("http://dl.example.test/install/dotnet2/dotnetfx.exe",
            Get(DOTNETFRAMEWORK_SECONDARY_URL));
  EXPECT_EQ("http://cdn.example.test/installs/setupfiles/torvaneagent.msi", Get(TORVANEAGENTURL));
  EXPECT_EQ("Kestrel", config_.settings.clientId());
  EXPECT_EQ("Parlor", config_.settings.deskId());
  EXPECT_EQ("\"Parlor_Pinball\"", config_.settings.contentId());
  EXPECT_EQ("Pinball Deluxe", config_.settings.displayId());
  EXPECT_EQ("", Get(CATALOGID));
  EXPECT_EQ("1", Get(DESKINSTALL));
  EXPECT_EQ("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}", Get(TORVANEAGENTGUID));
  EXPECT_EQ("Installing.\n\rPlease wait.", config_.settings.progressCaption());
  EXPECT_EQ("1", Get(DOTNETFRAMEWORKVERSION));
  EXPECT_EQ("", Get(TORVANEAGENTDEPENDENCY));
  EXPECT_THAT(config_.agentDependencies,
              ElementsAre("Torvane.Services.Agent.WebServices", "Torvane.Ads.AgentAdEngine"));
  EXPECT_EQ("1", Get(DOTNETSERVICEPACKVERSION));
  EXPECT_EQ("4ce3fe2d9d6e0b2e8e4d1f0f0a1c0b6e", Get(DOTNETSERVICEPACK_MD5_KEY));
  EXPECT_EQ("52456ac39bbb4640930d155c15160556", Get(DOTNETFRAMEWORK_MD5_KEY));
  EXPECT_EQ("3f2504e0-4f89-11d3-9a0c-0305e82c3301", Get(WFGUID));
  EXPECT_EQ("logs.example.test", Get(TORVANEIISLOGSERVER));
  EXPECT_EQ("C:\\Program Files\\Torvane\\WF", Get(FILEPATH_ON_SYSTEM_STARTUP));
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
  EXPECT_EQ("0", DotNetVersionCode("1.0"));
  EXPECT_EQ("1", DotNetVersionCode("1.1"));
  EXPECT_EQ("2", DotNetVersionCode("2.0"));
  EXPECT_EQ("1", DotNetVersionCode(""));
  EXPECT_EQ("1", DotNetVersionCode("2.0 "));
  EXPECT_EQ("0", ServicePackCode(""));
  EXPECT_EQ("1", ServicePackCode("SP1"));
  EXPECT_EQ("2", ServicePackCode("SP2"));
  EXPECT_EQ("1", ServicePackCode("sp2"));
  EXPECT_EQ("1", ServicePackCode("SP3"));

  Parse("DotNetFrameworkVersion=2.0\r\nDotNetServicePackVersion=\r\n");
  EXPECT_EQ("2", Get(DOTNETFRAMEWORKVERSION));
  EXPECT_EQ("0", Get(DOTNETSERVICEPACKVERSION));

  // An absent key leaves its slot empty rather than coded.
  Parse("ClientID=a\r\n");
  EXPECT_EQ("", Get(DOTNETFRAMEWORKVERSION));
  EXPECT_EQ("", Get(DOTNETSERVICEPACKVERSION));
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
  EXPECT_EQ("mixed", Get(CLIENTID));
  EXPECT_EQ("", Get(DESKID));
  EXPECT_EQ("", Get(DISPLAYID));
  EXPECT_EQ("doubled", Get(CONTENTID));
  EXPECT_EQ("leading", Get(CATALOGID));
  EXPECT_EQ(" kept blank ", Get(DESKINSTALL));
  EXPECT_EQ("second", Get(TORVANEAGENTGUID));
  // An unknown key lands in no slot, above all not in the download address.
  EXPECT_EQ("", Get(DOTNETFRAMEWORK_PRIMARY_URL));
}

TEST_F(SettingsTest, OnlyACarriageReturnIsCutFromTheValue) {
  Parse("ClientID=lf only\nDeskID=last line without end");
  EXPECT_EQ("lf only", Get(CLIENTID));
  EXPECT_EQ("last line without end", Get(DESKID));
}

TEST_F(SettingsTest, NulEndsTheText) {
  const char config[] = "ClientID=before\r\n\0DeskID=after\r\n";
  Parse(std::string(config, sizeof(config) - 1));
  EXPECT_EQ("before", Get(CLIENTID));
  EXPECT_EQ("", Get(DESKID));
}

TEST_F(SettingsTest, ProgressCaptionLineBreaks) {
  config_.settings.set(PROGRESS_CAPTION, "one\\n\\ntwo \\t \\\\n end\\");
  EXPECT_EQ("one\n\r\n\rtwo \\t \\\n\r end\\", config_.settings.progressCaption());
}

}  // namespace
