#pragma once

#include <cstdint>
#include <string>

namespace sentrel {

// One running Sentrel per user: an exclusive lock on a file in the per-user
// run-time folder (on Windows the named mutex "Sentrel" of the session). The
// system drops the lock when the holding process dies, so an instance that
// crashed never blocks the next one.
class InstanceLock {
 public:
  // `path` empty: the default lock file of the current user (on Windows the
  // name of the mutex, by default "Sentrel").
  explicit InstanceLock(std::string path = {});
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock without waiting; false when another process holds it (or
  // the lock file cannot be made). Holding it twice in one object is fine.
  bool TryAcquire();
  void Release();
  bool Held() const { return handle_ >= 0; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::intptr_t handle_ = -1;  // the lock file's descriptor or the mutex handle
};

}  // namespace sentrel
