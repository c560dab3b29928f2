#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "fakes/test_files.h"
#include "platform/atomic_file.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::PutFile;

// The replacement goes through ReplaceFileW (an old file) or MoveFileExW (a
// new one); the backup is a copy with the old file's times; what a killed
// writer left beside the file is swept away.
TEST(Win32AtomicFile, ReplacesKeepsABackupAndSweepsLeftovers) {
  testing::TempDir dir;
  const std::string file = dir.Path() + "\\sentrel.xml";
  const std::string backup = dir.Path() + "\\sentrel.BAK";
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(file, "first", backup, &error)) << error;
  EXPECT_EQ(ReadFile(file), "first");
  EXPECT_FALSE(fs::exists(backup)) << "no old file, no backup";

  PutFile(dir.Path() + "\\.sentrel.xml.abc123", "half written");
  const auto oldTime = fs::last_write_time(file);
  ASSERT_TRUE(WriteFileAtomically(file, "second", backup, &error)) << error;
  EXPECT_EQ(ReadFile(file), "second");
  EXPECT_EQ(ReadFile(backup), "first");
  EXPECT_EQ(fs::last_write_time(backup), oldTime);
  std::size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(dir.Path())) entries += entry.exists() ? 1 : 0;
  EXPECT_EQ(entries, 2u) << "only the file and its backup remain";
}

// A failure leaves the old file as it was and says why.
TEST(Win32AtomicFile, FailuresLeaveTheFileAndNameTheReason) {
  testing::TempDir dir;
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(dir.Path(), "x", {}, &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(WriteFileAtomically(dir.Path() + "\\missing\\f.txt", "x", {}, &error));
  EXPECT_FALSE(error.empty());

  const std::string file = dir.Path() + "\\f.txt";
  PutFile(file, "old");
  // A backup into a missing folder fails before anything changes.
  EXPECT_FALSE(WriteFileAtomically(file, "new", dir.Path() + "\\missing\\f.BAK", &error));
  EXPECT_EQ(ReadFile(file), "old");
}

// A save through a symbolic link replaces the file it names, beside it, and
// the link stays a link.
TEST(Win32AtomicFile, ASaveThroughALinkReplacesItsTarget) {
  testing::TempDir dir;
  fs::create_directory(dir.Path() + "\\elsewhere");
  const std::string target = dir.Path() + "\\elsewhere\\hosts.xml";
  const std::string link = dir.Path() + "\\sentrel.xml";
  PutFile(target, "old");
  // Wine accepts the link but cannot open through it: nothing to show there.
  if (!CreateSymbolicLinkW(fs::path(link).wstring().c_str(), L"elsewhere\\hosts.xml",
                           SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
      GetFileAttributesW(fs::path(link).wstring().c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "symbolic links made here cannot be opened (error " << GetLastError() << ")";
  }
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(link, "new", dir.Path() + "\\sentrel.BAK", &error)) << error;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadFile(target), "new");
  EXPECT_EQ(ReadFile(dir.Path() + "\\sentrel.BAK"), "old");
}

}  // namespace
}  // namespace sentrel
