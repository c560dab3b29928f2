#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/append_line.h"
#include "platform/write_all.h"

namespace sentrel {
namespace {

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

}  // namespace
}  // namespace sentrel
