#include "echo_responder.h"

#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <future>

#include "netns_topology.h"
#include "platform/icmp_library.h"

namespace sentrel::testing {

EchoResponder::EchoResponder(std::string netns, std::chrono::microseconds delay,
                             ResponderFaults faults)
    : netns_(std::move(netns)), delay_(delay), faults_(faults) {}

EchoResponder::~EchoResponder() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

bool EchoResponder::Start() {
  std::promise<int> opened;
  auto ready = opened.get_future();
  thread_ = std::thread([this, &opened] {
    NetnsGuard guard(netns_);
    int fd = guard.ok() ? socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP) : -1;
    if (fd >= 0) {
      icmp_filter filter{~(1u << ICMP_ECHO)};
      setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    }
    opened.set_value(fd);
    if (fd < 0) return;
    Serve(fd);
    close(fd);
  });
  return ready.get() >= 0;
}

std::vector<EchoResponder::Request> EchoResponder::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

namespace {

void Seal(std::vector<uint8_t>& icmp) {
  if (icmp.size() < 8) return;
  icmp[2] = icmp[3] = 0;
  uint16_t checksum = InternetChecksum(icmp);
  icmp[2] = static_cast<uint8_t>(checksum >> 8);
  icmp[3] = static_cast<uint8_t>(checksum);
}

}  // namespace

void EchoResponder::Serve(int fd) {
  using Clock = std::chrono::steady_clock;
  struct Due {
    Clock::time_point at;
    sockaddr_in to;
    std::vector<uint8_t> reply;
  };
  std::deque<Due> due;
  while (!stop_) {
    int waitMs = 20;
    if (!due.empty()) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(due.front().at - Clock::now());
      waitMs = static_cast<int>(std::clamp<long>(left.count(), 0, 20));
    }
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, waitMs);
    uint8_t packet[2048];
    for (;;) {
      ssize_t n = recv(fd, packet, sizeof packet, MSG_DONTWAIT);
      if (n < 0) break;
      auto now = Clock::now();
      size_t header = size_t{packet[0] & 0x0Fu} * 4;
      if (static_cast<size_t>(n) < header + 8 || packet[header] != ICMP_ECHO) continue;
      Request seen{packet[8], packet[1], 0};
      std::memcpy(&seen.source, packet + 12, 4);
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(seen);
      }
      Due answer{now + delay_, {}, {}};
      answer.to.sin_family = AF_INET;
      answer.to.sin_addr.s_addr = seen.source;
      answer.reply.push_back(ICMP_ECHOREPLY);
      for (size_t i = header + 1; i < static_cast<size_t>(n); ++i) answer.reply.push_back(packet[i]);
      if (faults_.strangerFirst) {
        Due stranger = answer;
        if (stranger.reply.size() >= 8) stranger.reply[4] ^= 0x5A;
        Seal(stranger.reply);
        due.push_back(std::move(stranger));
      }
      Seal(answer.reply);
      if (faults_.twice) due.push_back(answer);
      due.push_back(std::move(answer));
    }
    // Busy-wait the last stretch, so the reply leaves when it is due rather
    // than when the poll wakes up.
    while (!due.empty() && due.front().at - Clock::now() < std::chrono::milliseconds(1)) {
      while (Clock::now() < due.front().at) {
      }
      sendto(fd, due.front().reply.data(), due.front().reply.size(), 0,
             reinterpret_cast<const sockaddr*>(&due.front().to), sizeof due.front().to);
      due.pop_front();
    }
  }
}

}  // namespace sentrel::testing
