#include "platform/program_start.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace sentrel {
namespace {

TEST(SplitCommandLine, QuotesGroupAndBlanksSeparate) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitCommandLine(""), V{});
  EXPECT_EQ(SplitCommandLine("  a   b "), (V{"a", "b"}));
  EXPECT_EQ(SplitCommandLine("-m \"host down\" x"), (V{"-m", "host down", "x"}));
  EXPECT_EQ(SplitCommandLine("\"\""), V{""});
  EXPECT_EQ(SplitCommandLine("say \\\"hi\\\""), (V{"say", "\"hi\""}));
  // Shell characters are plain text: no shell ever sees them.
  EXPECT_EQ(SplitCommandLine("a;rm -rf $HOME|b"), (V{"a;rm", "-rf", "$HOME|b"}));
}

TEST(StartProgram, StartsWithoutAShellAndReportsWhatCannotStart) {
  const fs::path out = fs::temp_directory_path() / ("sentrel-start-" + std::to_string(getpid()));
  fs::remove(out);
  ASSERT_TRUE(StartProgram("/bin/sh", "-c \"echo started > '" + out.string() + "'\""));
  // The program runs detached: wait a bounded time for its file.
  for (int i = 0; i < 200 && !fs::exists(out); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::ifstream in(out);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "started");
  fs::remove(out);

  EXPECT_FALSE(StartProgram("/nonexistent/program", ""));
  EXPECT_FALSE(StartProgram("", "x"));
}

}  // namespace
}  // namespace sentrel
