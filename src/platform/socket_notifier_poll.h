#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/poll_wait.h"
#include "platform/socket_notifier.h"

namespace sentrel {

// SocketNotifier on a plain poll() loop. The thread that calls RunFor is the
// owning thread; other threads wake it when they change what is watched.
class PollSocketNotifier final : public SocketNotifier {
 public:
  PollSocketNotifier();
  ~PollSocketNotifier() override;
  PollSocketNotifier(const PollSocketNotifier&) = delete;
  PollSocketNotifier& operator=(const PollSocketNotifier&) = delete;

  void Watch(int fd, std::function<void()> onReadable) override;
  void SetTimer(int fd, std::chrono::milliseconds delay,
                std::function<void()> onTimeout) override;
  void Unwatch(int fd) override;

  // Serves readiness and timers for `duration` (or until Stop), then returns.
  void RunFor(std::chrono::milliseconds duration);
  // Makes a running RunFor return soon. Any thread.
  void Stop();

 private:
  struct Entry {
    std::function<void()> onReadable;
    std::function<void()> onTimeout;
    std::optional<std::chrono::steady_clock::time_point> deadline;
  };
  void Wake();

  PollWait wait_;
  std::mutex mutex_;
  std::condition_variable idle_;
  std::map<int, Entry> entries_;
  int dispatching_ = -1;  // fd whose callback runs right now
  std::thread::id owner_;
  bool stop_ = false;
};

}  // namespace sentrel
