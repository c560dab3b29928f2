#include <gtest/gtest.h>

#include <ostream>
#include <thread>

#include "common/command_line.h"
#include "common/sync_string.h"
#include "common/text.h"

namespace sentrel {
namespace {

struct SwitchCase {
  std::vector<std::string> arguments;
  std::string name;
  bool expected;
};

void PrintTo(const SwitchCase& c, std::ostream* os) {
  for (const auto& argument : c.arguments) *os << argument << ' ';
  *os << "? " << c.name;
}

class CommandLineSwitch : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(CommandLineSwitch, MatchesSlashOrDashWithoutCase) {
  EXPECT_EQ(HasCommandLineSwitch(GetParam().arguments, GetParam().name), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineSwitch,
    ::testing::Values(SwitchCase{{"sentrel", "/SL"}, "sl", true},
                      SwitchCase{{"sentrel", "-sl"}, "sl", true},
                      SwitchCase{{"sentrel", "sl"}, "sl", false},
                      SwitchCase{{"sentrel", "/sl2"}, "sl", false},
                      SwitchCase{{"sentrel", "--sl"}, "sl", false},
                      SwitchCase{{"/sl"}, "sl", true},  // argument 0 counts too
                      // The name is not lower-cased, so an upper-case name never matches.
                      SwitchCase{{"sentrel", "/SL"}, "SL", false}));

TEST(CommandLine, RecordedArgumentsAreSearched) {
  const char* argv[] = {"/usr/bin/sentrel", "-SL"};
  SetCommandLine(2, argv);
  EXPECT_TRUE(HasCommandLineSwitch("sl"));
  SetCommandLine(1, argv);
  EXPECT_FALSE(HasCommandLineSwitch("sl"));
}

TEST(Text, BlanksAreCodesUpTo32AndHighBytesAreLetters) {
  EXPECT_EQ(TrimBlanks(std::string(" \t\r\n\x01\xe9t\xe9 x\x7f\0", 13)), "\xe9t\xe9 x\x7f");
  EXPECT_EQ(TrimBlanksView(" \tkey \r"), "key");
  EXPECT_EQ(RemoveBlanks(" mail .\texample\r\n.org\xa0"), "mail.example.org\xa0");
  EXPECT_EQ(AsciiLower("MiXeD\xc9\xe9-Z"), "mixed\xc9\xe9-z");
  EXPECT_TRUE(EqualsIgnoringCase("Software\\SENTREL", "SOFTWARE\\sentrel"));
  EXPECT_FALSE(EqualsIgnoringCase("\xc9", "\xe9"));
  EXPECT_EQ(ToHex(std::string("\x00\x0f\xf0\xff", 4)), "000ff0ff");
}

// One thread replaces the text while another reads it; every read must be one
// of the whole values. The sanitizer builds report a torn or racy access.
TEST(SyncString, ReadsSeeWholeValuesWhileAnotherThreadWrites) {
  const std::string shortText = "OK";
  const std::string longText(300, 'x');
  SyncString shared(shortText);
  std::thread writer([&] {
    for (int i = 0; i < 20000; ++i) shared.Set(i % 2 ? longText : shortText);
  });
  int torn = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::string seen = shared.Get();
    if (seen != shortText && seen != longText) ++torn;
  }
  writer.join();
  EXPECT_EQ(torn, 0);
}

TEST(SplitAtLineBreaks, EveryKindOfBreakEndsAPiece) {
  using Pieces = std::vector<std::string_view>;
  EXPECT_EQ(SplitAtLineBreaks(""), Pieces{""});
  EXPECT_EQ(SplitAtLineBreaks("a"), Pieces{"a"});
  EXPECT_EQ(SplitAtLineBreaks("a\r\n"), (Pieces{"a", ""}));
  EXPECT_EQ(SplitAtLineBreaks("a\r\nb\nc\rd"), (Pieces{"a", "b", "c", "d"}));
  // CR LF is one break; LF CR is two.
  EXPECT_EQ(SplitAtLineBreaks("a\n\rb"), (Pieces{"a", "", "b"}));
  EXPECT_EQ(SplitAtLineBreaks("\r\n\r\n"), (Pieces{"", "", ""}));
}

}  // namespace
}  // namespace sentrel
