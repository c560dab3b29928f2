#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "platform/win32/registry_access.h"

namespace sentrel {
namespace {

// Each test works below a stand-in key of its own, removed afterwards.
class Win32RegistryTest : public ::testing::Test {
 protected:
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, Wide(root_).c_str()); }
  static std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

  const std::string root_ = "Software\\SentrelTest" + std::to_string(GetCurrentProcessId());
};

// What Save writes is what the system's registry holds, with the types the
// program gave: strings as text (also beyond ASCII and legacy 8-bit text),
// binary values byte for byte.
TEST_F(Win32RegistryTest, SavedValuesAreTheSystemsOwnAndReadBackTheSame) {
  Registry registry(root_);
  const std::string binary("\x00\x01\xff\x7f", 4);
  ASSERT_TRUE(registry.SetString("SOFTWARE\\Sentrel\\MainForm", "isPinging", "1"));
  ASSERT_TRUE(registry.SetString("SOFTWARE\\Sentrel", "Caption", "Gr\xc3\xbc\xc3\x9f"));
  ASSERT_TRUE(registry.SetValue("SOFTWARE\\Sentrel", "Password", kRegBinary, binary));
  std::string error;
  ASSERT_TRUE(registry.Save(&error)) << error;

  const RegistryKey key(root_ + "\\SOFTWARE\\Sentrel", false, KEY_READ);
  ASSERT_TRUE(key.IsOpen());
  wchar_t text[32] = {};
  DWORD size = sizeof text;
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueExW(key.Handle(), L"Caption", nullptr, &type,
                             reinterpret_cast<BYTE*>(text), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::wstring(text), L"Gr\u00fc\u00df");
  EXPECT_EQ(key.Get("Password")->type, static_cast<uint32_t>(REG_BINARY));
  EXPECT_EQ(key.Get("Password")->data, binary);

  Registry again(root_);
  ASSERT_TRUE(again.Load());
  EXPECT_EQ(again.GetString("software\\sentrel\\mainform", "ISPINGING"), "1");
  EXPECT_EQ(again.GetString("SOFTWARE\\Sentrel", "Caption"), "Gr\xc3\xbc\xc3\x9f");
  EXPECT_EQ(again.GetValue("SOFTWARE\\Sentrel", "Password")->data, binary);
  EXPECT_EQ(again.GetValue("SOFTWARE\\Sentrel", "Password")->type, kRegBinary);
}

// A value deleted since the last load goes from the system's registry at the
// next save; a missing key loads as an empty registry.
TEST_F(Win32RegistryTest, DeletedValuesLeaveTheRegistryAndMissingKeysAreEmpty) {
  Registry empty(root_);
  std::string warning;
  EXPECT_TRUE(empty.Load(&warning));
  EXPECT_TRUE(warning.empty()) << warning;
  EXPECT_TRUE(empty.ValueNames("SOFTWARE\\Sentrel").empty());

  Registry registry(root_);
  registry.SetString("SOFTWARE\\Sentrel", "Keep", "k");
  registry.SetString("SOFTWARE\\Sentrel", "Drop", "d");
  ASSERT_TRUE(registry.Save());
  EXPECT_TRUE(registry.DeleteValue("SOFTWARE\\Sentrel", "drop"));
  ASSERT_TRUE(registry.Save());

  const RegistryKey key(root_ + "\\SOFTWARE\\Sentrel", false, KEY_READ);
  EXPECT_FALSE(key.Get("Drop").has_value());
  EXPECT_EQ(key.Get("Keep")->data, "k");
}

// Save writes only what this instance changed: a value another program set
// meanwhile keeps its change.
TEST_F(Win32RegistryTest, SaveWritesOnlyTheChangedValues) {
  Registry seed(root_);
  seed.SetString("SOFTWARE\\Sentrel\\Options", "Port", "25");
  seed.SetString("SOFTWARE\\Sentrel\\Options", "ServerName", "old");
  ASSERT_TRUE(seed.Save());
  Registry running(root_);
  ASSERT_TRUE(running.Load());
  seed.SetString("SOFTWARE\\Sentrel\\Options", "ServerName", "new");
  ASSERT_TRUE(seed.Save());

  running.SetString("SOFTWARE\\Sentrel\\Options", "ServerName", "old");  // as read
  running.SetString("SOFTWARE\\Sentrel\\Options", "Port", "2525");
  ASSERT_TRUE(running.Save());
  Registry stored(root_);
  ASSERT_TRUE(stored.Load());
  EXPECT_EQ(stored.GetString("SOFTWARE\\Sentrel\\Options", "ServerName"), "new");
  EXPECT_EQ(stored.GetString("SOFTWARE\\Sentrel\\Options", "Port"), "2525");
}

}  // namespace
}  // namespace sentrel
