#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sentrel::testing {

// Faults a misbehaving peer can add to each answer.
struct ResponderFaults {
  bool strangerFirst = false;  // first a reply with another identifier
  bool twice = false;          // the reply once more, right after
  // Holds the answers until this many requests have come, then sends them
  // all back to back after the delay: a burst that a receiver must take at
  // once. 0 answers each request on its own.
  std::size_t burst = 0;
};

// Answers echo requests in a namespace whose kernel ignores them, after a
// known delay, and records the IP header fields each request arrived with.
class EchoResponder {
 public:
  struct Request {
    uint8_t ttl;
    uint8_t tos;
    uint32_t source;  // network byte order
  };

  EchoResponder(std::string netns, std::chrono::microseconds delay, ResponderFaults faults = {});
  ~EchoResponder();
  EchoResponder(const EchoResponder&) = delete;
  EchoResponder& operator=(const EchoResponder&) = delete;

  // Starts answering; false when the socket could not be opened there.
  bool Start();
  std::vector<Request> Requests() const;

 private:
  void Serve(int fd);

  std::string netns_;
  std::chrono::microseconds delay_;
  ResponderFaults faults_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
};

}  // namespace sentrel::testing
