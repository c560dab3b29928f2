#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/paths.h"

namespace sentrel {

InstanceLock::InstanceLock(std::string path) : path_(std::move(path)) {
  if (path_.empty()) {
    path_ = JoinPath(GetRuntimeFolder(), "sentrel-" + std::to_string(getuid()) + ".lock");
  }
}

InstanceLock::~InstanceLock() { Release(); }

bool InstanceLock::TryAcquire() {
  if (handle_ >= 0) return true;
  const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

void InstanceLock::Release() {
  if (handle_ < 0) return;
  // Closing the descriptor drops the lock; the file stays for the next run.
  close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace sentrel
