// Runs under Wine against its real registry.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace platform {
namespace {

const char kKey[] = "Software\\KestrelTest";

class Win32RegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE,
                                             nullptr, &key, nullptr));
    const char text[] = "C:\\Program Files\\Agent\\";
    RegSetValueExA(key, "InstallDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text));
    DWORD number = 10;
    RegSetValueExA(key, "Install", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof(number));
    RegCloseKey(key);
  }
  void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, kKey); }

  Registry& registry_ = SystemRegistry();
};

TEST_F(Win32RegistryTest, ReadsValuesWrittenByTheRegistryApi) {
  const auto kUser = RegistryRoot::kCurrentUser;
  std::string bytes;
  ASSERT_TRUE(registry_.ReadValue(kUser, kKey, "InstallDir", 100, &bytes));
  EXPECT_EQ(std::string("C:\\Program Files\\Agent\\\0", 24), bytes);
  EXPECT_FALSE(registry_.ReadValue(kUser, kKey, "InstallDir", 10, &bytes)) << "more data";

  std::string text;
  ASSERT_TRUE(registry_.ReadString(kUser, "SOFTWARE\\kestreltest", "installdir", 260, &text));
  EXPECT_EQ("C:\\Program Files\\Agent\\", text);

  uint32_t value = 0;
  ASSERT_TRUE(registry_.ReadDword(kUser, kKey, "Install", &value));
  EXPECT_EQ(10u, value);
  EXPECT_FALSE(registry_.ReadDword(kUser, kKey, "Missing", &value));
  EXPECT_FALSE(registry_.ReadDword(RegistryRoot::kLocalMachine, kKey, "Install", &value));
  EXPECT_FALSE(registry_.ReadDword(kUser, "Software\\KestrelTest\\None", "Install", &value));
}

}  // namespace
}  // namespace platform
