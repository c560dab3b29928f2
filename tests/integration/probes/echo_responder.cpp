#include "echo_responder.h"

#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
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
      const int on = 1;
      setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    }
    opened.set_value(fd);
    if (fd < 0) return;
    // A reply is due at a set moment; on a busy machine an ordinary thread
    // may not run then. Where allowed (root), the responder runs ahead of
    // ordinary threads; its waits are short and end in a sleep.
    sched_param priority{};
    priority.sched_priority = 1;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
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

// The kernel's receive stamp (wall clock) of a message on the monotonic
// clock; now when it has none.
std::chrono::steady_clock::time_point ArrivalTime(msghdr& message) {
  const auto now = std::chrono::steady_clock::now();
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SO_TIMESTAMPNS) continue;
    timespec stamp{};
    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
    timespec wall{};
    clock_gettime(CLOCK_REALTIME, &wall);
    const auto age = std::chrono::seconds(wall.tv_sec - stamp.tv_sec) +
                     std::chrono::nanoseconds(wall.tv_nsec - stamp.tv_nsec);
    if (age >= std::chrono::nanoseconds(0) && age < std::chrono::seconds(1))
      return now - std::chrono::duration_cast<std::chrono::steady_clock::duration>(age);
  }
  return now;
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
  std::size_t held = 0;
  while (!stop_) {
    int waitMs = 20;
    if (!due.empty()) {
      // Sleep short of the moment; the last stretch is waited out below.
      auto left = std::chrono::floor<std::chrono::milliseconds>(due.front().at - Clock::now()) -
                  std::chrono::milliseconds(1);
      waitMs = static_cast<int>(std::clamp<long>(left.count(), 0, 20));
    }
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, waitMs);
    uint8_t packet[2048];
    for (;;) {
      alignas(cmsghdr) uint8_t control[128];
      iovec io{packet, sizeof packet};
      msghdr message{};
      message.msg_iov = &io;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      ssize_t n = recvmsg(fd, &message, MSG_DONTWAIT);
      if (n < 0) break;
      // The delay runs from the request's arrival as the kernel stamped it,
      // not from when this thread got round to reading it.
      const auto now = ArrivalTime(message);
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
      if (faults_.burst > 0 && ++held <= faults_.burst) {
        // Nothing leaves before the last request of the burst is in.
        for (Due& d : due) d.at = held == faults_.burst ? now + delay_ : Clock::time_point::max();
      }
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
