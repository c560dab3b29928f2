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

}  // namespace
}  // namespace sentrel
