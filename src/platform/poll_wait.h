#pragma once

#include <vector>

// Inside the platform layer: the system's wait for readable sockets, which
// another thread can cut short. The poll loop of PollSocketNotifier sits on it.
namespace sentrel {

class PollWait {
 public:
  PollWait();
  ~PollWait();
  PollWait(const PollWait&) = delete;
  PollWait& operator=(const PollWait&) = delete;

  // Makes the Wait in progress (or the next one) return at once. Any thread.
  void Wake();
  // Waits up to `timeoutMs` until one of `fds` is readable or Wake is called;
  // returns the readable ones (none after a time-out, a wake or an error).
  std::vector<int> Wait(const std::vector<int>& fds, int timeoutMs);

 private:
  int wake_[2] = {-1, -1};  // the wake-up's read and write ends
};

}  // namespace sentrel
