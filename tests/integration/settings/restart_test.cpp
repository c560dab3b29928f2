#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "platform/registry.h"
#include "settings/options.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

// Runs the helper program and returns its output; `status` gets its exit code.
std::string RunTool(const std::string& command, const std::string& file, int* status) {
  const std::string line = std::string(SETTINGS_TOOL) + " " + command + " '" + file + "'";
  std::FILE* pipe = ::popen(line.c_str(), "r");
  if (!pipe) {
    *status = -1;
    return {};
  }
  std::string output;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int raw = ::pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

class RestartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/sentrel-restart-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    file_ = (dir_ / "Sentrel" / "registry.reg").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  std::string file_;
};

TEST_F(RestartTest, ValuesSavedByOneProcessAreReadByTheNext) {
  int status = 0;
  RunTool("save", file_, &status);
  ASSERT_EQ(status, 0);

  Registry registry(file_);
  ASSERT_TRUE(registry.Load());
  ROptions options;
  LoadOptions(options, registry);
  EXPECT_EQ(options.Language, "Nederlands");
  EXPECT_EQ(options.ServerName, "smtp.example.net");
  EXPECT_EQ(options.Port, 587);
  EXPECT_TRUE(options.MinToTray);
  EXPECT_EQ(options.Times, uint64_t{0xffffffffffff});
  EXPECT_EQ(registry.GetString("software\\sentrel", "password"), std::string("\x00\x9f\x00z", 4));

  // This process changes some of them; the next one sees the change and
  // everything else as it was.
  options.Port = 25;
  options.StatusBody = "Still here";
  ASSERT_TRUE(SaveOptions(options, registry));
  const std::string printed = RunTool("print", file_, &status);
  ASSERT_EQ(status, 0);
  EXPECT_NE(printed.find("\nPort=25\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("\nStatusBody=Still here\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("\nLanguage=Nederlands\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("\nTimes=281474976710655\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("Password digest=009f007a\n"), std::string::npos) << printed;
}

}  // namespace
}  // namespace sentrel
