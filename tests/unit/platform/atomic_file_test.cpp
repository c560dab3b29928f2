#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "fakes/test_files.h"

namespace sentrel {
namespace {

using testing::ReadFile;
using testing::PutFile;

namespace fs = std::filesystem;

// Runs `body` in a forked child and returns its exit status (-1 when it did
// not exit normally). Limits and identity changes stay in the child.
int RunInChild(const std::function<bool()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body() ? 0 : 1);
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/sentrel-atomic-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    file_ = dir_ / "sentrel.xml";
    backup_ = dir_ / "sentrel.BAK";
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  fs::path dir_, file_, backup_;
};

TEST_F(AtomicFileTest, NewFileGetsItsModeAndLaterSavesKeepOneBackup) {
  std::string error;
  const std::string bytes("a\0b\r\n", 5);
  ASSERT_TRUE(WriteFileAtomically(file_, bytes, backup_, &error, 0600)) << error;
  EXPECT_EQ(ReadFile(file_), bytes);
  EXPECT_EQ(fs::status(file_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Names(), std::set<std::string>{"sentrel.xml"});

  ASSERT_TRUE(WriteFileAtomically(file_, "two", backup_, &error));
  // The backup keeps the time of the file it copies: never newer than the file.
  const timespec earlier[2] = {{1000, 0}, {1'700'000'000, 123456789}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file_.c_str(), earlier, 0), 0);
  ASSERT_TRUE(WriteFileAtomically(file_, "three", backup_, &error));
  EXPECT_EQ(ReadFile(file_), "three");
  EXPECT_EQ(ReadFile(backup_), "two");
  struct stat backupStat {}, fileStat {};
  ASSERT_EQ(::stat(backup_.c_str(), &backupStat), 0);
  ASSERT_EQ(::stat(file_.c_str(), &fileStat), 0);
  EXPECT_EQ(backupStat.st_mtim.tv_sec, 1'700'000'000);
  EXPECT_EQ(backupStat.st_mtim.tv_nsec, 123456789);
  EXPECT_GT(fileStat.st_mtim.tv_sec, backupStat.st_mtim.tv_sec);
  EXPECT_EQ(fs::status(backup_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Names(), (std::set<std::string>{"sentrel.xml", "sentrel.BAK"}));
}

// What a writer killed in the instant between naming its temporary file and
// renaming it leaves behind goes with the next write of the same file; other
// files' temporaries and look-alikes stay.
TEST_F(AtomicFileTest, NextWriteRemovesWhatAKilledWriterLeft) {
  PutFile(dir_ / ".sentrel.xml.Ab3dE9", "left");
  PutFile(dir_ / ".sentrel.BAK.x1y2z3", "left");
  PutFile(dir_ / ".sentrel.xml.toolong", "not ours");
  PutFile(dir_ / ".sentrel.xml.ab-cd_", "not ours");
  PutFile(dir_ / ".registry.reg.Ab3dE9", "another file's");
  PutFile(file_, "old");
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(file_, "new", backup_, &error)) << error;
  EXPECT_EQ(Names(), (std::set<std::string>{"sentrel.xml", "sentrel.BAK", ".sentrel.xml.toolong",
                                            ".sentrel.xml.ab-cd_", ".registry.reg.Ab3dE9"}));
}

TEST_F(AtomicFileTest, UnusableTargetsFailWithAReason) {
  PutFile(dir_ / "plain", "x");
  fs::create_directory(dir_ / "folder");
  for (const fs::path& target :
       {dir_ / "missing" / "sentrel.xml", dir_ / "plain" / "sentrel.xml", dir_ / "folder"}) {
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(target, "bytes", "", &error)) << target;
    EXPECT_FALSE(error.empty()) << target;
  }
  EXPECT_EQ(ReadFile(dir_ / "plain"), "x");
  EXPECT_EQ(Names(), (std::set<std::string>{"plain", "folder"}));
}

TEST_F(AtomicFileTest, FailedBackupLeavesFileAsItWas) {
  PutFile(file_, "old");
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(file_, "new", dir_ / "missing" / "x.BAK", &error));
  EXPECT_NE(error.find("backup"), std::string::npos) << error;
  EXPECT_EQ(ReadFile(file_), "old");
  EXPECT_EQ(Names(), std::set<std::string>{"sentrel.xml"});
}

// A write that fails half-way (here: the file size limit, which the kernel
// reports as EFBIG after a short write, the way a full disk does) must leave
// the old file and the old backup untouched and remove the temporary file.
TEST_F(AtomicFileTest, WriteFailingHalfWayKeepsOldFileAndBackup) {
  PutFile(file_, "old file");
  PutFile(backup_, "old backup");
  const int status = RunInChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
    std::string error;
    const bool written =
        WriteFileAtomically(file_, std::string(1 << 20, 'x'), backup_, &error);
    return !written && error.find("File too large") != std::string::npos;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(file_), "old file");
  EXPECT_EQ(ReadFile(backup_), "old backup");
  EXPECT_EQ(Names(), (std::set<std::string>{"sentrel.xml", "sentrel.BAK"}));
}

// A folder the writer may not change. Root ignores permission bits, so the
// child gives up root for an unprivileged user first.
TEST_F(AtomicFileTest, ReadOnlyFolderFailsAndKeepsOldFile) {
  PutFile(file_, "old");
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                            fs::perms::group_exec | fs::perms::others_read |
                            fs::perms::others_exec);
  const int status = RunInChild([&] {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return false;
    std::string error;
    return !WriteFileAtomically(file_, "new", backup_, &error) && !error.empty();
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(file_), "old");
  EXPECT_EQ(Names(), std::set<std::string>{"sentrel.xml"});
}

// The data file kept elsewhere and linked into the data folder: the save
// goes through the link (a relative one, via a second link) into the target,
// whose folder holds the temporary file; the link stays a link.
TEST_F(AtomicFileTest, ASymbolicLinkIsFollowedAndItsTargetReplaced) {
  const fs::path elsewhere = dir_ / "elsewhere";
  fs::create_directory(elsewhere);
  PutFile(elsewhere / "hosts.xml", "old");
  fs::create_symlink("hosts.xml", elsewhere / "current.xml");
  fs::create_symlink("elsewhere/current.xml", file_);
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(file_, "new", backup_, &error)) << error;
  EXPECT_TRUE(fs::is_symlink(file_));
  EXPECT_TRUE(fs::is_symlink(elsewhere / "current.xml"));
  EXPECT_EQ(ReadFile(elsewhere / "hosts.xml"), "new");
  EXPECT_EQ(ReadFile(backup_), "old");
  EXPECT_EQ(Names(), (std::set<std::string>{"sentrel.xml", "sentrel.BAK", "elsewhere"}));
}

TEST_F(AtomicFileTest, ALinkThatCannotBeWrittenThroughFailsAndChangesNothing) {
  const fs::path locked = dir_ / "locked";
  fs::create_directory(locked);
  PutFile(locked / "hosts.xml", "old");
  fs::create_symlink(locked / "hosts.xml", file_);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                              fs::perms::others_exec);
  // The child drops root to "nobody", which must still reach the link.
  fs::permissions(dir_, fs::perms::others_exec, fs::perm_options::add);
  const int status = RunInChild([&] {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return false;
    std::string error;
    return !WriteFileAtomically(file_, "new", "", &error) &&
           error.find(locked.string()) != std::string::npos;
  });
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(fs::is_symlink(file_));
  EXPECT_EQ(ReadFile(locked / "hosts.xml"), "old");

  fs::create_symlink("loop.xml", dir_ / "loop.xml");
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(dir_ / "loop.xml", "new", "", &error));
  EXPECT_NE(error.find("link"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_symlink(dir_ / "loop.xml"));
}

}  // namespace
}  // namespace sentrel
