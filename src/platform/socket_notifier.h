#pragma once

#include <chrono>
#include <functional>

namespace sentrel {

// Delivers the readiness of sockets, and time-outs, to the thread that owns
// the notifier (the window thread in the GUI, the poll loop of the headless
// runner and of tests). Watch, SetTimer and Unwatch may be called from any
// thread; the callbacks always run on the owning thread.
class SocketNotifier {
 public:
  virtual ~SocketNotifier() = default;

  // Calls `onReadable` whenever `fd` has data to read, until Unwatch(fd).
  virtual void Watch(int fd, std::function<void()> onReadable) = 0;
  // Calls `onTimeout` once after `delay`, replacing an earlier timer of the
  // same `fd`. Only for a watched fd; Unwatch cancels it.
  virtual void SetTimer(int fd, std::chrono::milliseconds delay,
                        std::function<void()> onTimeout) = 0;
  // Stops both. When it returns, no callback for `fd` runs any more (from
  // another thread it waits for a callback in progress to finish).
  virtual void Unwatch(int fd) = 0;
};

}  // namespace sentrel
