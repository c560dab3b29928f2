#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "fakes/test_files.h"
#include "platform/atomic_file.h"
#include "platform/win32/file_replace_calls.h"

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

// ReplaceFileW failing half-way, as documented: 1176 has already removed the
// old file, 1177 has renamed it away. The move is tried next; when that fails
// too, the temporary file is the only copy of the content and must stay.
struct HalfWayReplace {
  static inline DWORD code = 0;
  static inline bool moveFails = false;
  static BOOL WINAPI Replace(LPCWSTR target, LPCWSTR, LPCWSTR, DWORD, LPVOID, LPVOID) {
    if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
      DeleteFileW(target);
    } else {
      MoveFileW(target, (std::wstring(target) + L".renamed").c_str());
    }
    SetLastError(code);
    return FALSE;
  }
  static BOOL WINAPI Move(LPCWSTR from, LPCWSTR to, DWORD flags) {
    if (!moveFails) return MoveFileExW(from, to, flags);
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
};

TEST(Win32AtomicFile, AReplaceThatFailsHalfWayNeverLosesTheNewContent) {
  FileReplaceCalls& calls = FileReplaceCallsInUse();
  const FileReplaceCalls real = calls;
  calls = {HalfWayReplace::Replace, HalfWayReplace::Move};
  for (const DWORD code : {DWORD{ERROR_UNABLE_TO_MOVE_REPLACEMENT}, DWORD{ERROR_UNABLE_TO_MOVE_REPLACEMENT_2}}) {
    for (const bool moveFails : {false, true}) {
      SCOPED_TRACE("error " + std::to_string(code) + (moveFails ? ", move fails" : ""));
      HalfWayReplace::code = code;
      HalfWayReplace::moveFails = moveFails;
      testing::TempDir dir;
      const std::string file = dir.Path() + "\\sentrel.xml";
      PutFile(file, "old");
      std::string error;
      const bool saved = WriteFileAtomically(file, "new", {}, &error);
      EXPECT_EQ(saved, !moveFails) << error;
      if (!moveFails) {
        EXPECT_EQ(ReadFile(file), "new");
        continue;
      }
      const auto kept = error.rfind("kept in \"");
      ASSERT_NE(kept, std::string::npos) << error;
      const std::string temp = error.substr(kept + 9, error.size() - kept - 10);
      EXPECT_EQ(ReadFile(temp), "new") << "the temporary file is the only copy";
      // The next save must not sweep that copy away before its own is safe.
      calls.move = MoveFileExW;
      if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
        ASSERT_TRUE(WriteFileAtomically(file, "newer", {}, &error)) << error;
        EXPECT_EQ(ReadFile(file), "newer");
        EXPECT_TRUE(fs::exists(temp)) << "not swept while the file was missing";
      }
      calls.move = HalfWayReplace::Move;
    }
  }
  calls = real;
}

}  // namespace
}  // namespace sentrel
