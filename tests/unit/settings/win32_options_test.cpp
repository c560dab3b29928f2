#include <windows.h>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/win32/registry_access.h"
#include "settings/options.h"

namespace sentrel {
namespace {

// The system's registry, as an operator or a deployment tool fills it: the
// port as REG_DWORD, the log folder as REG_EXPAND_SZ. Both are read, and a
// save keeps their types.
TEST(Win32Options, NumbersAsDwordAndExpandablePathsAreReadAndKeepTheirTypes) {
  const std::string standIn = "Software\\SentrelTest" + std::to_string(GetCurrentProcessId());
  const std::string optionsKey = standIn + "\\" + std::string(kOptionsKey);
  {
    const RegistryKey key(optionsKey, true);
    ASSERT_TRUE(key.IsOpen());
    ASSERT_EQ(key.Set("Port", {kRegDword, std::string("\x4b\x02\0\0", 4)}), ERROR_SUCCESS);
    ASSERT_EQ(key.Set("PathToLog", {kRegExpandString, "%SystemDrive%\\Logs"}), ERROR_SUCCESS);
  }
  Registry registry(standIn);
  ASSERT_TRUE(registry.Load());
  ROptions options;
  LoadOptions(options, registry);
  EXPECT_EQ(options.Port, 587);
  EXPECT_EQ(options.PathToLog, "C:\\Logs");

  options.Port = 2525;
  ASSERT_TRUE(SaveOptions(options, registry));
  const RegistryKey key(optionsKey, false, KEY_READ);
  const auto port = key.Get("Port");
  ASSERT_TRUE(port.has_value());
  EXPECT_EQ(port->type, kRegDword);
  EXPECT_EQ(port->data, std::string("\xdd\x09\0\0", 4));
  const auto path = key.Get("PathToLog");
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(path->type, kRegExpandString);
  EXPECT_EQ(path->data, "%SystemDrive%\\Logs") << "unchanged, it keeps its names";
  RegDeleteTreeW(HKEY_CURRENT_USER, std::wstring(standIn.begin(), standIn.end()).c_str());
}

}  // namespace
}  // namespace sentrel
