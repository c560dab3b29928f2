#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace sentrel {
namespace {

std::string LockPath() {
  return (std::filesystem::temp_directory_path() /
          ("sentrel-lock-test-" + std::to_string(getpid()) + ".lock"))
      .string();
}

// Whether a separate process could take the lock right now.
bool OtherProcessCanAcquire(const std::string& path) {
  const pid_t child = fork();
  if (child == 0) {
    InstanceLock other(path);
    _exit(other.TryAcquire() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(InstanceLock, SecondProcessIsRefusedUntilTheFirstReleases) {
  const std::string path = LockPath();
  {
    InstanceLock first(path);
    ASSERT_TRUE(first.TryAcquire());
    EXPECT_TRUE(first.TryAcquire());  // holding it twice is fine
    EXPECT_FALSE(OtherProcessCanAcquire(path));
    first.Release();
    EXPECT_TRUE(OtherProcessCanAcquire(path));
  }
  std::filesystem::remove(path);
}

TEST(InstanceLock, LockOfADeadProcessIsFree) {
  const std::string path = LockPath();
  const pid_t child = fork();
  if (child == 0) {
    InstanceLock holder(path);
    if (!holder.TryAcquire()) _exit(1);
    _exit(0);  // dies holding the lock: the kernel drops it
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  InstanceLock next(path);
  EXPECT_TRUE(next.TryAcquire());
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace sentrel
