#include "platform/autostart.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "fakes/test_files.h"

namespace sentrel {
namespace {

TEST(Autostart, TickingWritesTheEntryAndUntickingRemovesIt) {
  testing::TempDir dir;
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
  const std::string entry = dir.Path() + "/autostart/sentrel.desktop";
  EXPECT_EQ(AutostartEntryPath(), entry);

  std::string error;
  ASSERT_TRUE(SetAutostart(true, "/opt/my tools/sentrel", &error)) << error;
  const std::string text = testing::ReadFile(entry);
  EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(text.find("\nExec=\"/opt/my tools/sentrel\"\n"), std::string::npos);
  ASSERT_TRUE(SetAutostart(false, {}, &error)) << error;
  EXPECT_FALSE(std::filesystem::exists(entry));
  EXPECT_TRUE(SetAutostart(false, {}, &error));  // already gone

  if (old) setenv("XDG_CONFIG_HOME", saved.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
}

TEST(Autostart, ExecArgumentsAreEscapedAsDesktopEntriesRequire) {
  EXPECT_NE(AutostartEntry("/usr/bin/sentrel").find("\nExec=/usr/bin/sentrel\n"), std::string::npos);
  EXPECT_NE(AutostartEntry("/home/a$b/100%/sentrel").find("\nExec=\"/home/a\\$b/100%%/sentrel\"\n"),
            std::string::npos);
}

}  // namespace
}  // namespace sentrel
