#include "platform/socket_notifier_poll.h"

#include <vector>

namespace sentrel {

PollSocketNotifier::PollSocketNotifier() = default;

PollSocketNotifier::~PollSocketNotifier() = default;

void PollSocketNotifier::Wake() { wait_.Wake(); }

void PollSocketNotifier::Watch(int fd, std::function<void()> onReadable) {
  {
    std::lock_guard lock(mutex_);
    entries_[fd].onReadable = std::move(onReadable);
  }
  Wake();
}

void PollSocketNotifier::SetTimer(int fd, std::chrono::milliseconds delay,
                                  std::function<void()> onTimeout) {
  {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(fd);
    if (it == entries_.end()) return;
    it->second.onTimeout = std::move(onTimeout);
    it->second.deadline = std::chrono::steady_clock::now() + delay;
  }
  Wake();
}

void PollSocketNotifier::Unwatch(int fd) {
  std::unique_lock lock(mutex_);
  entries_.erase(fd);
  // From the loop's own thread (inside a callback) there is nothing to wait
  // for; from another thread the callback in progress must end first, since
  // the caller is about to free what it uses.
  if (std::this_thread::get_id() != owner_)
    idle_.wait(lock, [&] { return dispatching_ != fd; });
}

void PollSocketNotifier::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  Wake();
}

void PollSocketNotifier::RunFor(std::chrono::milliseconds duration) {
  using Clock = std::chrono::steady_clock;
  auto end = Clock::now() + duration;
  {
    std::lock_guard lock(mutex_);
    owner_ = std::this_thread::get_id();
    stop_ = false;
  }
  for (;;) {
    std::vector<int> fds;
    auto next = end;
    {
      std::lock_guard lock(mutex_);
      if (stop_) break;
      for (auto& [fd, entry] : entries_) {
        if (entry.onReadable) fds.push_back(fd);
        if (entry.deadline && *entry.deadline < next) next = *entry.deadline;
      }
    }
    auto now = Clock::now();
    if (now >= end) break;
    auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    const std::vector<int> readable = wait_.Wait(fds, static_cast<int>(waitMs < 0 ? 0 : waitMs));
    // Collect what is due, then run each callback without the lock, marking
    // it so that Unwatch from another thread waits for it.
    std::vector<std::pair<int, bool>> due;  // fd, is timer
    for (const int fd : readable) due.emplace_back(fd, false);
    {
      std::lock_guard lock(mutex_);
      now = Clock::now();
      for (auto& [fd, entry] : entries_)
        if (entry.deadline && *entry.deadline <= now) due.emplace_back(fd, true);
    }
    for (auto [fd, isTimer] : due) {
      std::function<void()> callback;
      {
        std::lock_guard lock(mutex_);
        auto it = entries_.find(fd);
        if (it == entries_.end()) continue;
        if (isTimer) {
          if (!it->second.deadline || *it->second.deadline > Clock::now()) continue;
          it->second.deadline.reset();
          callback = std::move(it->second.onTimeout);
        } else {
          callback = it->second.onReadable;
        }
        dispatching_ = fd;
      }
      if (callback) callback();
      {
        std::lock_guard lock(mutex_);
        dispatching_ = -1;
      }
      idle_.notify_all();
    }
  }
  std::lock_guard lock(mutex_);
  owner_ = std::thread::id();
}

}  // namespace sentrel
