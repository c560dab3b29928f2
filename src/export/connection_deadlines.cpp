#include "export/connection_deadlines.h"

#include <utility>

namespace sentrel {

ConnectionDeadlines::ConnectionDeadlines(std::chrono::milliseconds limit, std::function<void(int)> cut)
    : limit_(limit), cut_(std::move(cut)), thread_([this](std::stop_token stop) { Watch(stop); }) {}

ConnectionDeadlines::~ConnectionDeadlines() {
  thread_.request_stop();
  thread_.join();
}

void ConnectionDeadlines::Opened(const void* key, int socket) {
  std::lock_guard lock(mutex_);
  connections_[key] = {socket, Clock::now() + limit_, false};
  ++opened_;
  changed_.notify_one();
}

void ConnectionDeadlines::Answered(const void* key) {
  std::lock_guard lock(mutex_);
  // A later deadline than every one the watch waits for: no wake-up needed.
  if (auto it = connections_.find(key); it != connections_.end()) it->second.deadline = Clock::now() + limit_;
}

void ConnectionDeadlines::Closed(const void* key) {
  std::lock_guard lock(mutex_);
  connections_.erase(key);
}

void ConnectionDeadlines::Watch(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  while (!stop.stop_requested()) {
    auto next = Clock::time_point::max();
    const auto now = Clock::now();
    for (auto& [key, watched] : connections_) {
      if (watched.cut) continue;
      if (watched.deadline <= now) {
        cut_(watched.socket);
        watched.cut = true;  // the server closes it and says so through Closed
      } else {
        next = std::min(next, watched.deadline);
      }
    }
    // A new connection's deadline may come before `next`: look again then.
    const uint64_t seen = opened_;
    const auto openedSince = [this, seen] { return opened_ != seen; };
    if (next == Clock::time_point::max()) {
      changed_.wait(lock, stop, openedSince);
    } else {
      changed_.wait_until(lock, stop, next, openedSince);
    }
  }
}

}  // namespace sentrel
