#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <thread>

#include "common/append_line.h"
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
                      SwitchCase{{"sentrel", "-Sl", "x"}, "sl", true},
                      SwitchCase{{"sentrel", "sl"}, "sl", false},
                      SwitchCase{{"sentrel", "/sl2"}, "sl", false},
                      SwitchCase{{"sentrel", "--sl"}, "sl", false},
                      SwitchCase{{"sentrel", "/sl "}, "sl", false},
                      // Argument 0 is searched too.
                      SwitchCase{{"/sl"}, "sl", true},
                      // The name is not lower-cased, so an upper-case name never matches.
                      SwitchCase{{"sentrel", "/SL"}, "SL", false},
                      SwitchCase{{}, "sl", false}));

TEST(CommandLine, RecordedArgumentsAreSearched) {
  const char* argv[] = {"/usr/bin/sentrel", "-SL"};
  SetCommandLine(2, argv);
  EXPECT_TRUE(HasCommandLineSwitch("sl"));
  EXPECT_FALSE(HasCommandLineSwitch("x"));
  SetCommandLine(1, argv);
  EXPECT_FALSE(HasCommandLineSwitch("sl"));
}

TEST(Text, BlanksAreCodesUpTo32AndHighBytesAreLetters) {
  const std::string padded = std::string(" \t\r\n\x01") + "\xe9t\xe9 x\x1f" + "\x7f";
  EXPECT_EQ(TrimBlanks(padded), std::string("\xe9t\xe9 x\x1f\x7f"));
  EXPECT_EQ(RemoveBlanks(" mail .\texample\r\n.org "), "mail.example.org");
  EXPECT_EQ(RemoveBlanks("\xe9\xa0 \xff"), "\xe9\xa0\xff");
  EXPECT_EQ(TrimBlanks(std::string(" \0 ", 3)), "");
  EXPECT_EQ(AsciiLower("MiXeD\xc9\xe9-Z"), "mixed\xc9\xe9-z");
  EXPECT_TRUE(EqualsIgnoringCase("Software\\SENTREL", "SOFTWARE\\sentrel"));
  EXPECT_FALSE(EqualsIgnoringCase("\xc9", "\xe9"));
  EXPECT_FALSE(EqualsIgnoringCase("ab", "abc"));
  EXPECT_EQ(ToHex(std::string("\x00\x0f\xf0\xff", 4)), "000ff0ff");
}

class AppendLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/sentrel-append-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Read(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::filesystem::path dir_;
};

TEST_F(AppendLineTest, CreatesThenAppendsWithCrLf) {
  const auto file = dir_ / "smtp.log";
  AppendLine(file, "220 ready");
  AppendLine(file, "");
  AppendLine(file, "QUIT");
  EXPECT_EQ(Read(file), "220 ready\r\n\r\nQUIT\r\n");
}

TEST_F(AppendLineTest, UnopenableFileIsSkippedSilently) {
  AppendLine(dir_ / "missing" / "smtp.log", "line");
  AppendLine(dir_, "line");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
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
  SyncString copy = shared;
  EXPECT_EQ(copy.Get(), shared.Get());
}

}  // namespace
}  // namespace sentrel
