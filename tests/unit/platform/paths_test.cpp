#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sentrel {
namespace {

struct FolderCase {
  const char* xdgDataHome;  // nullptr: unset
  const char* home;
  std::string expected;
};

void PrintTo(const FolderCase& c, std::ostream* os) {
  if (c.xdgDataHome) {
    *os << "xdg" << std::string_view(c.xdgDataHome).size();
  } else {
    *os << "noxdg";
  }
  *os << (c.home ? "_home" : "_nohome");
}

class DataFolder : public ::testing::TestWithParam<FolderCase> {
 protected:
  void SetUp() override {
    for (const char* name : {"XDG_DATA_HOME", "HOME"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name, value->c_str(), 1);
      } else {
        ::unsetenv(name);
      }
    }
  }
  static void Put(const char* name, const char* value) {
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST_P(DataFolder, FollowsTheXdgRule) {
  Put("XDG_DATA_HOME", GetParam().xdgDataHome);
  Put("HOME", GetParam().home);
  EXPECT_EQ(GetDataFolder(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DataFolder,
    ::testing::Values(FolderCase{"/data", "/home/op", "/data/Sentrel"},
                      // A folder that already ends in a separator does not get a second one.
                      FolderCase{"/data/", "/home/op", "/data/Sentrel"},
                      FolderCase{nullptr, "/home/op", "/home/op/.local/share/Sentrel"},
                      FolderCase{"", "/home/op/", "/home/op/.local/share/Sentrel"},
                      // A relative value is not allowed by the rule: the default applies.
                      FolderCase{"data", "/home/op", "/home/op/.local/share/Sentrel"},
                      FolderCase{nullptr, nullptr, ""}));

}  // namespace
}  // namespace sentrel
