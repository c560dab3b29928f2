#pragma once

#include <string>

namespace sentrel {

// One running Sentrel per user: an exclusive lock on a file in the per-user
// run-time folder. The kernel drops the lock when the holding process dies,
// so an instance that crashed never blocks the next one.
class InstanceLock {
 public:
  // `path` empty: the default lock file of the current user.
  explicit InstanceLock(std::string path = {});
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock without waiting; false when another process holds it (or
  // the lock file cannot be made). Holding it twice in one object is fine.
  bool TryAcquire();
  void Release();
  bool Held() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace sentrel
