#include "notify/mail_message.h"

#include <gtest/gtest.h>

#include "common/base64.h"
#include "settings/utf8_text.h"

namespace sentrel {
namespace {

struct AddressCase {
  const char* text;
  bool recipientItem;
  const char* address;
};

class ExtractAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(ExtractAddressTest, TakesTheAddressOutOfTheText) {
  EXPECT_EQ(ExtractAddress(GetParam().text, GetParam().recipientItem), GetParam().address);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ExtractAddressTest,
    ::testing::Values(AddressCase{"  ops@x.test ", true, "ops@x.test"},
                      AddressCase{"\"Ops Team\" <ops@x.test>", true, "ops@x.test"},
                      AddressCase{"Ops < ops@x.test >", false, "ops@x.test"},
                      AddressCase{"Ops <ops@x.test", false, "ops@x.test"},
                      AddressCase{"ops@x.test> trailing", false, "ops@x.test"},
                      // Only a recipient item loses "!" and quotes at its ends.
                      AddressCase{"!\"ops@x.test\"!", true, "ops@x.test"},
                      AddressCase{"!ops@x.test!", false, "!ops@x.test!"},
                      AddressCase{"  ", true, ""},
                      AddressCase{"<>", false, ""},
                      // A line break inside cannot reach the command line.
                      AddressCase{"<ops@x.test\r\nRSET>", false, "ops@x.testRSET"}));

TEST(RecipientListTest, CutsAtCommasAndSemicolonsKeepingEmptyItems) {
  std::string_view list = "a@x, Bob <b@x>;;c@x";
  std::string_view item;
  std::vector<std::string> items;
  while (NextRecipientItem(list, item)) items.emplace_back(item);
  EXPECT_EQ(items, (std::vector<std::string>{"a@x", " Bob <b@x>", "", "c@x"}));

  // A separator inside a quoted display name belongs to the name; an
  // unclosed quote quotes nothing.
  items.clear();
  list = "\"M\\\"ller, J\" <jm@x>;\"a, b\";\"c, d";
  while (NextRecipientItem(list, item)) items.emplace_back(item);
  EXPECT_EQ(items, (std::vector<std::string>{"\"M\\\"ller, J\" <jm@x>", "\"a, b\"", "\"c", " d"}));

  list = "";
  EXPECT_FALSE(NextRecipientItem(list, item));
}

TEST(Rfc5322DateTest, EnglishNamesNoLeadingZeroDayAndSignedOffset) {
  const DateTime winter = EncodeDateTime({2026, 1, 4, 9, 5, 7, 0});  // a Sunday
  EXPECT_EQ(Rfc5322Date(winter, 60), "Sun, 4 Jan 2026 09:05:07 +0100");
  EXPECT_EQ(Rfc5322Date(winter, 0), "Sun, 4 Jan 2026 09:05:07 +0000");
  EXPECT_EQ(Rfc5322Date(winter, -570), "Sun, 4 Jan 2026 09:05:07 -0930");
  EXPECT_EQ(Rfc5322Date(EncodeDateTime({2024, 2, 29, 23, 59, 59, 0}), 345),
            "Thu, 29 Feb 2024 23:59:59 +0545");
}

// A long subject is folded into encoded words of at most 75 characters,
// each whole characters, that together give the subject back.
TEST(MimeMessageTest, LongSubjectFoldsIntoWholeEncodedWords) {
  std::string subject;
  for (int i = 0; i < 12; ++i) subject += "Сервер ";
  const auto lines = BuildMessageLines("a@x", "b@x", subject, "date", "", false);
  std::string decoded;
  std::size_t words = 0;
  for (std::size_t i = 3; i < lines.size() && (i == 3 || lines[i].starts_with(' ')); ++i) {
    const std::string_view word = std::string_view(lines[i]).substr(i == 3 ? 9 : 1);
    ASSERT_LE(word.size(), 75u) << word;
    ASSERT_TRUE(word.starts_with("=?UTF-8?B?") && word.ends_with("?=")) << word;
    const auto piece = Base64Decode(word.substr(10, word.size() - 12));
    ASSERT_TRUE(piece && IsValidUtf8(*piece));
    decoded += *piece;
    ++words;
  }
  EXPECT_GT(words, 1u);
  EXPECT_EQ(decoded, subject);
}

}  // namespace
}  // namespace sentrel
