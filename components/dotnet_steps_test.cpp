#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/dotnet_framework_step.h"
#include "components/dotnet_service_pack_step.h"
#include "engine/install_manager.h"
#include "tests/fake_message_boxes.h"
#include "tests/fake_registry.h"
#include "tests/recorded_events.h"
#include "tests/test_paths.h"

namespace {

using platform::RegistryRoot;

const char kNdp11[] = "Software\\Microsoft\\NET Framework Setup\\NDP\\v1.1.4322";
const char kNdp20[] = "Software\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727";
const char kPolicy10[] = "Software\\Microsoft\\.NETFramework\\Policy\\v1.0";
const char kActiveSetup10[] =
    "Software\\Microsoft\\Active Setup\\Installed Components\\{FDC11A6F-17D1-48f9-9EA3-9051954BAA24}";

std::string Dword(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

class DotNetStepsTest : public testing::Test {
 protected:
  DotNetFrameworkStep Framework(const std::string& code) {
    return DotNetFrameworkStep(nullptr, "http://127.0.0.1:1/a", "http://127.0.0.1:1/b", "",
                               folder_.path(), "dotnetfx.exe", code, registry_);
  }
  DotNetServicePackStep ServicePack(const std::string& code) {
    return DotNetServicePackStep(nullptr, "http://127.0.0.1:1/a", "http://127.0.0.1:1/b", "",
                                 folder_.path(), "dotnetServicePack.exe", code, registry_);
  }
  test_paths::ScratchFolder folder_;
  FakeRegistry registry_;
};

TEST_F(DotNetStepsTest, CommandLinesQuoteTheInstallerAndKeepTheSwitchesExact) {
  const std::string path = "\"" + folder_.File("dotnetfx.exe") + "\"";
  EXPECT_EQ(Framework("1").commandLine, path + " /q:a /c:\"install /l /q\"");
  EXPECT_EQ(Framework("").commandLine, path + " /q:a /c:\"install /l /q\"");
  EXPECT_EQ(Framework("0").commandLine,
            path + " /q:a /c:\"install.exe /u /p Microsoft .NET Framework Full v1.0.3705 (1033) /q\"");
  EXPECT_EQ(ServicePack("1").commandLine,
            "\"" + folder_.File("dotnetServicePack.exe") + "\" /q");
}

TEST_F(DotNetStepsTest, WeightsDependOnALocalCopy) {
  EXPECT_EQ(Framework("1").downloadWeight, 2.0);
  EXPECT_EQ(ServicePack("1").downloadWeight, 1.5);
  ASSERT_TRUE(test_paths::WriteWholeFile(folder_.File("dotnetfx.exe"), "installer"));
  DotNetFrameworkStep local = Framework("1");
  EXPECT_TRUE(local.availableLocally);
  EXPECT_EQ(local.downloadWeight, 0.0);
  EXPECT_EQ(local.installWeight, 3.0);
  EXPECT_EQ(local.requiredMegabytes, 50);
}

TEST_F(DotNetStepsTest, AConfiguredDigestRejectsAStaleLocalFile) {
  ASSERT_TRUE(test_paths::WriteWholeFile(folder_.File("dotnetfx.exe"), "partial"));
  DotNetFrameworkStep step(nullptr, "u", "v", "0123456789abcdef0123456789abcdef", folder_.path(),
                           "dotnetfx.exe", "1", registry_);
  EXPECT_FALSE(step.availableLocally);
}

TEST_F(DotNetStepsTest, FrameworkCheckFollowsTheVersionTable) {
  RecordedEvents events;
  registry_.SetValue(RegistryRoot::kLocalMachine, kNdp11, "Install", Dword(1));
  EXPECT_TRUE(Framework("1").IsInstalled());
  EXPECT_TRUE(Framework("3").IsInstalled());  // unknown versions read the 1.1 key
  EXPECT_FALSE(Framework("2").IsInstalled());
  registry_.SetValue(RegistryRoot::kLocalMachine, kNdp20, "Install", Dword(1));
  EXPECT_TRUE(Framework("2").IsInstalled());
  registry_.SetValue(RegistryRoot::kLocalMachine, kNdp11, "Install", Dword(0));
  EXPECT_FALSE(Framework("1").IsInstalled());
  EXPECT_FALSE(Framework("").IsInstalled());  // empty code: the 1.0 policy key
  registry_.SetString(RegistryRoot::kLocalMachine, kPolicy10, "3705", "anything");
  EXPECT_TRUE(Framework("").IsInstalled());
  EXPECT_TRUE(Framework("0").IsInstalled());
  EXPECT_EQ(events.Ids(), (std::vector<int>{4001, 4001, 4002, 4001, 4002, 4002, 4001, 4001}));
}

TEST_F(DotNetStepsTest, ServicePackCheckCountsOnlyLevelOne) {
  RecordedEvents events;
  registry_.SetValue(RegistryRoot::kLocalMachine, kNdp11, "SP", Dword(1));
  EXPECT_TRUE(ServicePack("1").IsInstalled());
  registry_.SetValue(RegistryRoot::kLocalMachine, kNdp11, "SP", Dword(2));
  EXPECT_FALSE(ServicePack("1").IsInstalled());
  registry_.SetString(RegistryRoot::kLocalMachine, kActiveSetup10, "Version", "1,0,3705,1");
  EXPECT_TRUE(ServicePack("0").IsInstalled());
  registry_.SetString(RegistryRoot::kLocalMachine, kActiveSetup10, "Version", "1,0,3705,0");
  EXPECT_FALSE(ServicePack("0").IsInstalled());
  registry_.SetString(RegistryRoot::kLocalMachine, kActiveSetup10, "Version", "1");
  EXPECT_FALSE(ServicePack("").IsInstalled());
  const int readsBefore = registry_.read_count();
  EXPECT_FALSE(ServicePack("3").IsInstalled());
  EXPECT_EQ(registry_.read_count(), readsBefore);  // no key for other versions
  EXPECT_EQ(events.Ids(), (std::vector<int>{4003, 4004, 4003, 4004, 4004, 4004}));
}

}  // namespace
