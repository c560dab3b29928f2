#include "core/event_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "fakes/fake_desktop.h"
#include "fakes/test_files.h"

namespace fs = std::filesystem;

namespace sentrel {
namespace {

using testing::ReadFile;

void WriteSized(const fs::path& p, std::uintmax_t size, char fill) {
  std::ofstream out(p, std::ios::binary);
  out << std::string(size, fill);
}

class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("sentrel-log-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  // An open log file cannot be removed on Windows.
  void TearDown() override {
    log_.Close();
    fs::remove_all(folder_);
  }

  LogSettings Settings(int megabytes = 1) const {
    return {folder_.string(), megabytes, false, folder_.string()};
  }
  static bool PlainDelete(const std::string& path) { return fs::remove(path); }

  fs::path folder_;
  testing::FakeDesktop desktop_;
  EventLog log_;
};

// The log has a backup of its own, so the host list's sentrel.BAK beside it
// survives every rotation, also one from an older version that holds log
// lines; and the size alone decides, with or without an old backup.
struct RotationCase {
  int megabytes;
  std::uintmax_t logSize;
  bool oldBackup;
  bool rotates;
};

class EventLogRotation : public EventLogTest, public ::testing::WithParamInterface<RotationCase> {};

TEST_P(EventLogRotation, TheLogBecomesSentrelLogBakBySizeAlone) {
  const RotationCase c = GetParam();
  WriteSized(folder_ / "sentrel.log", c.logSize, 'L');
  if (c.oldBackup) WriteSized(folder_ / "sentrel.log.BAK", 10, 'O');
  WriteSized(folder_ / "sentrel.BAK", 10, 'B');
  ASSERT_TRUE(log_.Open(Settings(c.megabytes), desktop_, PlainDelete));
  log_.Write("x\r\n");
  log_.Close();
  EXPECT_EQ(ReadFile(folder_ / "sentrel.BAK"), std::string(10, 'B'));
  if (c.rotates) {
    EXPECT_EQ(fs::file_size(folder_ / "sentrel.log.BAK"), c.logSize);
    EXPECT_EQ(ReadFile(folder_ / "sentrel.log"), "x\r\n");
  } else {
    EXPECT_EQ(fs::file_size(folder_ / "sentrel.log"), c.logSize + 3);
    EXPECT_EQ(fs::exists(folder_ / "sentrel.log.BAK"), c.oldBackup);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, EventLogRotation,
    ::testing::Values(RotationCase{1, 1048577, true, true},   // old backup replaced
                      RotationCase{2, 3 * 1048576, false, true},  // no backup needed
                      RotationCase{1, 1048576, true, false},  // exactly the limit stays
                      RotationCase{-1, 1, false, true},       // negative counts as 0
                      RotationCase{-1, 0, false, false}));    // an empty log stays

TEST_F(EventLogTest, BackupThatCannotBeDiscardedLeavesTheLogInPlace) {
  WriteSized(folder_ / "sentrel.log", 1048577, 'L');
  WriteSized(folder_ / "sentrel.log.BAK", 10, 'B');
  ASSERT_TRUE(log_.Open(Settings(), desktop_, [](const std::string&) { return false; }));
  log_.Close();
  EXPECT_EQ(fs::file_size(folder_ / "sentrel.log.BAK"), 10u);
  EXPECT_EQ(fs::file_size(folder_ / "sentrel.log"), 1048577u);
}

TEST_F(EventLogTest, MissingFolderIsCreatedOnYesAndDeclinedGivesOneError) {
  const fs::path sub = folder_ / "a" / "b";
  LogSettings settings{sub.string(), 2, false, folder_.string()};
  desktop_.answer = MessageResult::Yes;
  EXPECT_TRUE(log_.Open(settings, desktop_, PlainDelete));
  EXPECT_TRUE(fs::exists(sub / "sentrel.log"));
  log_.Close();

  testing::FakeDesktop declining;
  declining.answer = MessageResult::No;
  settings.folder = (folder_ / "c").string();
  EXPECT_FALSE(log_.Open(settings, declining, PlainDelete));
  const auto calls = declining.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], "box:Sentrel:Directory \"" + settings.folder +
                          "\" isn't exist. Will create it?");
  EXPECT_EQ(calls[1], "box:Sentrel:Can't create log file.");
  log_.Write("still goes to the pane\r\n");  // must not crash without a file
}

TEST_F(EventLogTest, SmtpLogSwitchStartsAFreshTransferLog) {
  WriteSized(folder_ / "smtp.log", 5, 'S');
  LogSettings settings = Settings();
  settings.smtpLogSwitch = true;
  ASSERT_TRUE(log_.Open(settings, desktop_, PlainDelete));
  EXPECT_FALSE(fs::exists(folder_ / "smtp.log"));
}

class RecordingPane : public LogPane {
 public:
  void Append(const std::string& text) override { AppendToPaneText(text_, text); }
  std::string text_;
};

TEST_F(EventLogTest, TextGoesToPaneAndFileByteForByte) {
  RecordingPane pane;
  log_.SetPane(&pane);
  ASSERT_TRUE(log_.Open(Settings(), desktop_, PlainDelete));
  log_.Write("a\r\n");
  log_.Write("=== Trace web1 ===\r\n");
  log_.Close();
  EXPECT_EQ(pane.text_, "a\r\n=== Trace web1 ===\r\n");
  EXPECT_EQ(ReadFile(folder_ / "sentrel.log"), "a\r\n=== Trace web1 ===\r\n");
}

TEST(LogPaneText, DropsTwoOldestLinesOnlyPastTheLimit) {
  std::string pane;
  const std::string line = std::string(98, 'x') + "\r\n";  // 100 characters
  for (int i = 0; i < 163; ++i) AppendToPaneText(pane, line);
  AppendToPaneText(pane, line);  // 16300 is not past the limit: nothing dropped
  EXPECT_EQ(pane.size(), 16400u);
  EXPECT_EQ(pane.substr(0, 100), line);
  AppendToPaneText(pane, "1\r\n");  // 16400 is past it: two lines go, one comes
  EXPECT_EQ(pane.size(), 16203u);
  EXPECT_EQ(pane.substr(pane.size() - 3), "1\r\n");
}

}  // namespace
}  // namespace sentrel
