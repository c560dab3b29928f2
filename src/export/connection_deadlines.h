#pragma once

#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <unordered_map>

namespace sentrel {

// Gives every request on a connection a deadline: from the moment the
// connection waits for it (opened, or the previous answer sent) to the last
// byte of its answer. A client that sends or reads a byte now and then
// resets an idle time-out for ever; this one it cannot. A connection past
// its deadline is cut on a thread of its own, so a cut needs nothing from
// the server's thread.
class ConnectionDeadlines {
 public:
  using Clock = std::chrono::steady_clock;
  // `cut` ends the connection whose socket it is given; called with the
  // watch's lock held, so the connection cannot be closed meanwhile.
  ConnectionDeadlines(std::chrono::milliseconds limit, std::function<void(int socket)> cut);
  ~ConnectionDeadlines();
  ConnectionDeadlines(const ConnectionDeadlines&) = delete;
  ConnectionDeadlines& operator=(const ConnectionDeadlines&) = delete;

  // The server's thread reports each connection's life; `key` names it.
  void Opened(const void* key, int socket);
  void Answered(const void* key);
  // Must come before the socket is closed, so that a cut never meets a
  // socket number already reused.
  void Closed(const void* key);

 private:
  struct Watched {
    int socket = -1;
    Clock::time_point deadline;
    bool cut = false;
  };
  void Watch(std::stop_token stop);

  const std::chrono::milliseconds limit_;
  const std::function<void(int)> cut_;
  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::unordered_map<const void*, Watched> connections_;
  uint64_t opened_ = 0;
  std::jthread thread_;  // last: started once everything else exists
};

}  // namespace sentrel
