#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <thread>

#include "common/append_line.h"
#include "common/command_line.h"
#include "common/sync_string.h"
#include "common/text.h"
#include "common/write_all.h"

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

TEST(AppendLine, CreatesAppendsWithCrLfAndSkipsWhatCannotBeOpened) {
  char pattern[] = "/tmp/sentrel-append-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::filesystem::path dir = pattern;
  AppendLine(dir / "smtp.log", "220 ready");
  AppendLine(dir / "smtp.log", "");
  AppendLine(dir / "smtp.log", "QUIT");
  AppendLine(dir / "missing" / "smtp.log", "line");
  AppendLine(dir, "line");
  std::stringstream text;
  text << std::ifstream(dir / "smtp.log", std::ios::binary).rdbuf();
  EXPECT_EQ(text.str(), "220 ready\r\n\r\nQUIT\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));

  // A private log is created for its user alone; an existing file keeps the
  // permission its owner gave it.
  namespace fs = std::filesystem;
  AppendLine(dir / "private.log", "x", kPrivateFileMode);
  EXPECT_EQ(fs::status(dir / "private.log").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(dir / "smtp.log", fs::perms::owner_read | fs::perms::owner_write |
                                        fs::perms::group_read);
  AppendLine(dir / "smtp.log", "more", kPrivateFileMode);
  EXPECT_EQ(fs::status(dir / "smtp.log").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  std::filesystem::remove_all(dir);
}

// Short writes continue where the last one stopped; a failing write gives
// its errno, whatever the caller does about writes that take nothing.
TEST(WriteAll, WritesEveryByteInOrderOrGivesTheErrnoOfTheFailure) {
  int pipe[2];
  ASSERT_EQ(::pipe2(pipe, O_NONBLOCK | O_CLOEXEC), 0);
  EXPECT_EQ(WriteAll(pipe[1], "hello", WhenNothingWritten::GiveUp), 0);
  char head[5] = {};
  ASSERT_EQ(::read(pipe[0], head, sizeof head), 5);
  EXPECT_EQ(std::string_view(head, sizeof head), "hello");

  // More than the pipe holds: the writes that fit are short, then the full
  // pipe refuses the rest; what arrived is the start of the text, in order.
  std::string text(1 << 20, '\0');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 7 + i / 251);
  EXPECT_EQ(WriteAll(pipe[1], text, WhenNothingWritten::TryAgain), EAGAIN);
  std::string arrived(text.size(), '\0');
  const ssize_t n = ::read(pipe[0], arrived.data(), arrived.size());
  ASSERT_GT(n, 0);
  ASSERT_LT(static_cast<std::size_t>(n), text.size());
  EXPECT_EQ(arrived.substr(0, static_cast<std::size_t>(n)), text.substr(0, static_cast<std::size_t>(n)));

  for (auto when : {WhenNothingWritten::GiveUp, WhenNothingWritten::TryAgain})
    EXPECT_EQ(WriteAll(pipe[0], "x", when), EBADF) << "the read end";
  ::close(pipe[0]);
  ::close(pipe[1]);
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
