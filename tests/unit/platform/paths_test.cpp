#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace sentrel {
namespace {

void Put(const char* name, const char* value) {
  if (value) {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
}

TEST(DataFolder, FollowsTheXdgRuleWithOneSeparator) {
  const char* oldXdg = std::getenv("XDG_DATA_HOME");
  const char* oldHome = std::getenv("HOME");
  const std::string xdg = oldXdg ? oldXdg : "", home = oldHome ? oldHome : "";
  const struct {
    const char* xdg;  // nullptr: unset
    const char* home;
    const char* expected;
  } cases[] = {{"/data", "/home/op", "/data/Sentrel"},
               {"/data/", "/home/op", "/data/Sentrel"},  // a trailing separator is not doubled
               {nullptr, "/home/op/", "/home/op/.local/share/Sentrel"},
               {"data", "/home/op", "/home/op/.local/share/Sentrel"},  // relative: default
               {nullptr, nullptr, ""}};
  for (const auto& c : cases) {
    Put("XDG_DATA_HOME", c.xdg);
    Put("HOME", c.home);
    EXPECT_EQ(GetDataFolder(), c.expected) << (c.xdg ? c.xdg : "unset");
  }
  Put("XDG_DATA_HOME", oldXdg ? xdg.c_str() : nullptr);
  Put("HOME", oldHome ? home.c_str() : nullptr);
}

}  // namespace
}  // namespace sentrel
