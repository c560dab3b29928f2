#include "gui/dialogs/options_form_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>


namespace sentrel {
namespace {

using Names = std::vector<std::string>;

TEST(ConnectionListTest, NoneFirstThenTheEntriesUnlessThePhoneBookOverflows) {
  EXPECT_EQ(ConnectionChoices({}), Names{"None"});
  EXPECT_EQ(ConnectionChoices({"Office", "Home"}), (Names{"None", "Office", "Home"}));
  EXPECT_EQ(ConnectionChoices(Names(100, "x")).size(), 101u);
  EXPECT_EQ(ConnectionChoices(Names(101, "x")), Names{"None"});

  EXPECT_EQ(ConnectionIndex({"None", "Office", "office"}, "office"), 2u);
}

TEST(DayFieldTest, OutOfRangeValuesGoToTheNearerBound) {
  const struct {
    const char* text;
    std::optional<int> bound;
  } cases[] = {{"", 1},      {"0", 1},     {"00", 1},    {"-3", 1},     {"1", std::nullopt},
               {"31", std::nullopt},       {"031", std::nullopt},       {"32", 31},
               {"99", 31},   {"310", 31},  {"99999999999999999999", 31}, {"4294967297", 31},
               {"7x", std::nullopt},       {"x7", 1}};
  for (const auto& c : cases) EXPECT_EQ(DayFieldCorrection(c.text), c.bound) << '"' << c.text << '"';
}

}  // namespace
}  // namespace sentrel
