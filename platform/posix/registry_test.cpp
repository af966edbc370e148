#include "platform/registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/files.h"
#include "platform/uuid.h"

namespace platform {
namespace {

// Points KESTREL_REGISTRY_FILE at a file of the test's own.
class FileRegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("KESTREL_REGISTRY_FILE");
    had_old_ = old != nullptr;
    if (old) old_ = old;
    path_ = TempFolder() + "kestrel-registry-" + NewUuidText() + ".reg";
    setenv("KESTREL_REGISTRY_FILE", path_.c_str(), 1);
  }
  void TearDown() override {
    RemoveFile(path_);
    if (had_old_) {
      setenv("KESTREL_REGISTRY_FILE", old_.c_str(), 1);
    } else {
      unsetenv("KESTREL_REGISTRY_FILE");
    }
  }
  void Write(const std::string& text) {
    UniqueFile file = OpenFile(path_, "wb");
    ASSERT_TRUE(file);
    std::fwrite(text.data(), 1, text.size(), file.get());
  }

  bool had_old_ = false;
  std::string old_;
  std::string path_;
  Registry& registry_ = SystemRegistry();
};

TEST_F(FileRegistryTest, ReadsStringsAndDwords) {
  Write(
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Torvane]\r\n"
      "\"AgentId\"=\"{1234}\"\r\n"
      "\"Quoted\"=\"say \\\"hi\\\" C:\\\\x\"\r\n"
      "\"Count\"=dword:0000000a\r\n"
      "@=\"default\"\r\n"
      "\r\n"
      "[HKLM\\Software\\Microsoft\\NET Framework Setup\\NDP\\v1.1.4322]\r\n"
      "\"Install\"=dword:00000001\r\n"
      "\"SP\"=dword:FFFFFFFF\r\n"
      "\"Blob\"=hex:01,02,ff\r\n");
  const auto kUser = RegistryRoot::kCurrentUser;
  const auto kMachine = RegistryRoot::kLocalMachine;

  std::string bytes;
  ASSERT_TRUE(registry_.ReadValue(kUser, "SOFTWARE\\Torvane", "AgentId", 100, &bytes));
  EXPECT_EQ(std::string("{1234}\0", 7), bytes) << "kept its terminating zero";
  EXPECT_FALSE(registry_.ReadValue(kUser, "SOFTWARE\\Torvane", "AgentId", 6, &bytes))
      << "larger than the buffer";
  ASSERT_TRUE(registry_.ReadValue(
      kMachine, "Software\\Microsoft\\NET Framework Setup\\NDP\\v1.1.4322", "Blob", 3, &bytes));
  EXPECT_EQ("\x01\x02\xff", bytes);

  std::string text;
  ASSERT_TRUE(registry_.ReadString(kUser, "software\\torvane", "agentid", 100, &text));
  EXPECT_EQ("{1234}", text) << "names compare case-insensitively";
  ASSERT_TRUE(registry_.ReadString(kUser, "SOFTWARE\\Torvane", "Quoted", 100, &text));
  EXPECT_EQ("say \"hi\" C:\\x", text);
  ASSERT_TRUE(registry_.ReadString(kUser, "SOFTWARE\\Torvane", "", 100, &text));
  EXPECT_EQ("default", text);

  uint32_t value = 0;
  ASSERT_TRUE(registry_.ReadDword(kUser, "SOFTWARE\\Torvane", "Count", &value));
  EXPECT_EQ(10u, value);
  ASSERT_TRUE(registry_.ReadDword(
      kMachine, "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v1.1.4322\\", "SP", &value));
  EXPECT_EQ(0xFFFFFFFFu, value);
  EXPECT_FALSE(registry_.ReadDword(kUser, "SOFTWARE\\Torvane", "AgentId", &value))
      << "a 7-byte string does not fit a DWORD";

  EXPECT_FALSE(registry_.ReadDword(kUser, "SOFTWARE\\Torvane", "Missing", &value));
  EXPECT_FALSE(registry_.ReadDword(kMachine, "SOFTWARE\\Torvane", "Count", &value)) << "other root";
  EXPECT_FALSE(registry_.ReadDword(kUser, "SOFTWARE", "Count", &value)) << "parent key";
}

TEST_F(FileRegistryTest, ShortValuesFillTheLowBytes) {
  Write("[HKCU\\K]\n\"Two\"=hex:34,12\n\"Empty\"=\"\"\n");
  uint32_t value = 0xDEADBEEF;
  ASSERT_TRUE(registry_.ReadDword(RegistryRoot::kCurrentUser, "K", "Two", &value));
  EXPECT_EQ(0x1234u, value);
  std::string text = "x";
  ASSERT_TRUE(registry_.ReadString(RegistryRoot::kCurrentUser, "K", "Empty", 10, &text));
  EXPECT_EQ("", text);
}

TEST_F(FileRegistryTest, ReadsTheFileAgainOnEveryCall) {
  std::string text;
  EXPECT_FALSE(registry_.ReadString(RegistryRoot::kCurrentUser, "K", "V", 100, &text))
      << "no file yet";
  Write("[HKEY_CURRENT_USER\\K]\n\"V\"=\"one\"\n");
  ASSERT_TRUE(registry_.ReadString(RegistryRoot::kCurrentUser, "K", "V", 100, &text));
  EXPECT_EQ("one", text);
  Write("[HKEY_CURRENT_USER\\K]\n\"V\"=\"one\"\n\"V\"=\"two\"\n");
  ASSERT_TRUE(registry_.ReadString(RegistryRoot::kCurrentUser, "K", "V", 100, &text));
  EXPECT_EQ("two", text) << "the later line wins";
  Write("[HKEY_CURRENT_USER\\K]\n\"V\"=\"one\"\n\"V\"=-\n");
  EXPECT_FALSE(registry_.ReadString(RegistryRoot::kCurrentUser, "K", "V", 100, &text));
}

}  // namespace
}  // namespace platform
