#include "platform/icmp_library.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <optional>
#include <vector>

#include "platform/posix/icmp_socket_util.h"

namespace sentrel {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr size_t kIcmpHeader = 8;
// Only headers are inspected, so a truncated read of a longer answer is fine,
// and the buffer can live on the small stacks of many worker threads.
constexpr size_t kReadBuffer = 1024;

// A receive header for one datagram: its data, its control messages and,
// when `from` is given, its sender.
msghdr ReceiveHeader(iovec& io, void* control, size_t controlSize, sockaddr_in* from = nullptr) {
  msghdr message{};
  if (from) {
    message.msg_name = from;
    message.msg_namelen = sizeof *from;
  }
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = controlSize;
  return message;
}

uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

void Store16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value >> 8);
  p[1] = static_cast<uint8_t>(value);
}

std::vector<uint8_t> BuildRequest(uint16_t identifier, uint16_t sequence,
                                  std::span<const uint8_t> data) {
  std::array<uint8_t, kIcmpHeader> header{8, 0, 0, 0};
  Store16(&header[4], identifier);
  Store16(&header[6], sequence);
  std::vector<uint8_t> message(header.begin(), header.end());
  message.reserve(header.size() + data.size());
  for (uint8_t byte : data) message.push_back(byte);
  Store16(&message[2], InternetChecksum(message));
  return message;
}

int64_t RealtimeNs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// Round trip of one request. The kernel's receive stamp (wall clock) leaves
// out our own wake-up delay, which matters with many threads on few cores;
// it is used only when it agrees with the monotonic measure, so a step of the
// wall clock cannot produce a wrong figure.
class RoundTrip {
 public:
  void Start() {
    sentRealtime_ = RealtimeNs();
    sentSteady_ = SteadyClock::now();
  }
  SteadyClock::time_point Sent() const { return sentSteady_; }
  // Fills both round-trip fields of `reply`.
  void Store(IcmpEchoReply& reply, std::optional<int64_t> receivedRealtime) const {
    int64_t ns = Nanoseconds(receivedRealtime);
    reply.RoundTripTime = static_cast<uint32_t>((ns + 500'000) / 1'000'000);
    reply.RoundTripMicroseconds = static_cast<uint32_t>((ns + 500) / 1'000);
  }

 private:
  int64_t Nanoseconds(std::optional<int64_t> receivedRealtime) const {
    int64_t steadyNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           SteadyClock::now() - sentSteady_).count();
    int64_t ns = steadyNs;
    if (receivedRealtime) {
      int64_t kernelNs = *receivedRealtime - sentRealtime_;
      if (kernelNs >= 0 && kernelNs <= steadyNs + 1'000'000) ns = kernelNs;
    }
    return ns;
  }

  int64_t sentRealtime_ = 0;
  SteadyClock::time_point sentSteady_;
};

std::optional<int64_t> ReceiveStamp(msghdr& message) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_TIMESTAMPNS) {
      timespec stamp{};
      std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      return int64_t{stamp.tv_sec} * 1'000'000'000 + stamp.tv_nsec;
    }
  }
  return std::nullopt;
}

// Waits until `fd` is readable or has a queued error, at most until
// `deadline`. Returns the poll events, 0 at the deadline or when `wakeFd`
// was signalled (which it consumes), -1 when the wait itself fails.
short WaitReadable(int fd, int wakeFd, SteadyClock::time_point deadline) {
  for (;;) {
    auto left = deadline - SteadyClock::now();
    if (left <= SteadyClock::duration::zero()) return 0;
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timespec wait{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int n = ppoll(p, wakeFd >= 0 ? 2 : 1, &wait, nullptr);
    if (n > 0 && p[1].revents != 0) {
      uint64_t count = 0;
      (void)!read(wakeFd, &count, sizeof count);
      return 0;
    }
    if (n > 0) return p[0].revents;
    if (n < 0 && errno != EINTR) return -1;
  }
}

// Common part of both channel kinds: socket, options and the request loop.
class ChannelBase : public IcmpChannel {
 public:
  ChannelBase() : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~ChannelBase() override {
    if (fd_ >= 0) close(fd_);
    if (wakeFd_ >= 0) close(wakeFd_);
  }
  ChannelBase(const ChannelBase&) = delete;
  ChannelBase& operator=(const ChannelBase&) = delete;

  void Interrupt() override {
    uint64_t one = 1;
    if (wakeFd_ >= 0) (void)!write(wakeFd_, &one, sizeof one);
  }

  int SendEcho(uint32_t address, std::span<const uint8_t> data, const IcmpEchoOptions& options,
               IcmpEchoReply& reply, int timeoutMs) override {
    reply = IcmpEchoReply{address, kIpGeneralFailure, 0};
    if (!ApplyOptions(options, reply)) return 0;
    Drain();
    sequence_ = static_cast<uint16_t>(sequence_ + 1);
    std::vector<uint8_t> request = BuildRequest(identifier_, sequence_, data);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    roundTrip_.Start();
    auto deadline = roundTrip_.Sent() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    ssize_t sent = sendto(fd_, request.data(), request.size(), 0,
                          reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent < 0) {
      // An error answer that came in since Drain is reported by the socket
      // once as a send failure; a real local failure repeats.
      Drain();
      roundTrip_.Start();
      sent = sendto(fd_, request.data(), request.size(), 0,
                    reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    if (sent < 0) {
      reply.Status = IpStatusFromErrno(errno);
      return 0;
    }
    target_ = address;
    for (;;) {
      short events = WaitReadable(fd_, wakeFd_, deadline);
      if (events <= 0) {
        reply.Status = events == 0 ? kIpRequestTimedOut : kIpGeneralFailure;
        return 0;
      }
      if (std::optional<int> answered = ReadAnswers(reply)) return *answered;
    }
  }

  bool Open(int type) {
    fd_ = socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd_ < 0) return false;
    int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    return true;
  }

 protected:
  // Reads what is waiting. Returns the SendEcho result once the request is
  // answered, nullopt to keep waiting.
  virtual std::optional<int> ReadAnswers(IcmpEchoReply& reply) = 0;

  // Reads and drops what is queued: answers to earlier requests that came
  // after their time-out.
  virtual void Drain() {
    uint8_t buffer[512];
    while (recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT) >= 0 || errno == EINTR) {
    }
  }

  bool ApplyOptions(const IcmpEchoOptions& options, IcmpEchoReply& reply) {
    // TTL 0 is refused by the kernel: a request that can never leave the
    // host is a failure of the request, not of the target.
    return SetIpOption(IP_TTL, options.Ttl, ttl_, reply) &&
           SetIpOption(IP_TOS, options.Tos, tos_, reply);
  }

  // Sets one IP option when it differs from what the socket has; a refusal
  // becomes the request's status.
  bool SetIpOption(int option, int value, int& current, IcmpEchoReply& reply) {
    if (value == current) return true;
    if (setsockopt(fd_, IPPROTO_IP, option, &value, sizeof value) != 0) {
      reply.Status = IpStatusFromErrno(errno);
      return false;
    }
    current = value;
    return true;
  }

  int fd_ = -1;
  int wakeFd_ = -1;
  uint16_t identifier_ = 0;
  uint16_t sequence_ = 0;
  uint32_t target_ = 0;
  RoundTrip roundTrip_;

 private:
  int ttl_ = -1;
  int tos_ = 0;
};

// Datagram ICMP socket: the kernel owns the identifier and delivers only the
// replies that carry it; errors come through the error queue.
class DatagramChannel final : public ChannelBase {
 public:
  bool Init() {
    if (!Open(SOCK_DGRAM)) return false;
    sockaddr_in self{};
    self.sin_family = AF_INET;
    socklen_t length = sizeof self;
    int on = 1;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&self), &length) != 0 ||
        setsockopt(fd_, SOL_IP, IP_RECVERR, &on, sizeof on) != 0)
      return false;
    identifier_ = ntohs(self.sin_port);
    return true;
  }

 protected:
  void Drain() override {
    ChannelBase::Drain();
    uint8_t buffer[512];
    uint8_t control[512];
    for (;;) {
      iovec io{buffer, sizeof buffer};
      msghdr message = ReceiveHeader(io, control, sizeof control);
      if (recvmsg(fd_, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0 && errno != EINTR) break;
    }
  }

  std::optional<int> ReadAnswers(IcmpEchoReply& reply) override {
    if (std::optional<int> answered = ReadErrors(reply)) return answered;
    uint8_t buffer[kReadBuffer];
    alignas(cmsghdr) uint8_t control[256];
    for (;;) {
      sockaddr_in from{};
      iovec io{buffer, sizeof buffer};
      msghdr message = ReceiveHeader(io, control, sizeof control, &from);
      ssize_t n = recvmsg(fd_, &message, MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EINTR) continue;
        // A queued ICMP error also shows as a pending socket error here.
        if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
        return ReadErrors(reply);
      }
      if (static_cast<size_t>(n) < kIcmpHeader || buffer[0] != 0 ||
          Load16(&buffer[4]) != identifier_ || Load16(&buffer[6]) != sequence_)
        continue;
      reply.Address = from.sin_addr.s_addr;
      reply.Status = kIpSuccess;
      roundTrip_.Store(reply, ReceiveStamp(message));
      return 1;
    }
  }

 private:
  std::optional<int> ReadErrors(IcmpEchoReply& reply) {
    uint8_t buffer[512];
    alignas(cmsghdr) uint8_t control[512];
    for (;;) {
      sockaddr_in target{};
      iovec io{buffer, sizeof buffer};
      msghdr message = ReceiveHeader(io, control, sizeof control, &target);
      ssize_t n = recvmsg(fd_, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EINTR) continue;
        return std::nullopt;
      }
      // The data is our own request as sent: match it by its sequence.
      if (static_cast<size_t>(n) < kIcmpHeader || Load16(&buffer[6]) != sequence_) continue;
      const sock_extended_err* error = nullptr;
      for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_IP && c->cmsg_type == IP_RECVERR)
          error = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
      }
      if (error == nullptr) continue;
      if (error->ee_origin == SO_EE_ORIGIN_ICMP) {
        sockaddr_in offender{};
        std::memcpy(&offender, SO_EE_OFFENDER(error), sizeof offender);
        reply.Address = offender.sin_addr.s_addr;
        reply.Status = IpStatusFromIcmp(error->ee_type, error->ee_code);
        roundTrip_.Store(reply, ReceiveStamp(message));
        return 1;
      }
      // A local error about our request (e.g. the message is too big for
      // the route): the request was not made.
      reply.Address = target_;
      reply.Status = IpStatusFromErrno(static_cast<int>(error->ee_errno));
      return 0;
    }
  }
};

// Raw ICMP socket: sees every ICMP message of the host, so every answer is
// checked for length, type, identifier and sequence (errors through the
// request quoted inside them).
class RawChannel final : public ChannelBase {
 public:
  ~RawChannel() override {
    if (haveIdentifier_) ReleaseIcmpIdentifier(identifier_);
  }

  bool Init() {
    if (!Open(SOCK_RAW)) return false;
    if (!AcquireIcmpIdentifier(identifier_)) return false;
    haveIdentifier_ = true;
    posix::SetIcmpTypeFilter(fd_);
    posix::AttachIdentifierFilter(fd_, identifier_);
    return true;
  }

 protected:
  std::optional<int> ReadAnswers(IcmpEchoReply& reply) override {
    uint8_t buffer[kReadBuffer];
    alignas(cmsghdr) uint8_t control[256];
    for (;;) {
      iovec io{buffer, sizeof buffer};
      msghdr message = ReceiveHeader(io, control, sizeof control);
      ssize_t n = recvmsg(fd_, &message, MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EINTR) continue;
        return std::nullopt;
      }
      if (!Matches(buffer, static_cast<size_t>(n), reply)) continue;
      roundTrip_.Store(reply, ReceiveStamp(message));
      return 1;
    }
  }

 private:
  bool Matches(const uint8_t* packet, size_t length, IcmpEchoReply& reply) const {
    if (length < 20 || packet[0] >> 4 != 4) return false;
    size_t header = size_t{packet[0] & 0x0Fu} * 4;
    if (header < 20 || length < header + kIcmpHeader || packet[9] != IPPROTO_ICMP) return false;
    const uint8_t* icmp = packet + header;
    uint32_t source = 0;
    std::memcpy(&source, packet + 12, sizeof source);
    uint8_t type = icmp[0];
    if (type == 0) {
      if (Load16(icmp + 4) != identifier_ || Load16(icmp + 6) != sequence_) return false;
      reply.Address = source;
      reply.Status = kIpSuccess;
      return true;
    }
    if (type != 3 && type != 4 && type != 11 && type != 12) return false;
    const uint8_t* quoted = icmp + kIcmpHeader;
    size_t rest = length - header - kIcmpHeader;
    if (rest < 20 || quoted[0] >> 4 != 4) return false;
    size_t quotedHeader = size_t{quoted[0] & 0x0Fu} * 4;
    if (quotedHeader < 20 || rest < quotedHeader + kIcmpHeader || quoted[9] != IPPROTO_ICMP)
      return false;
    uint32_t quotedTarget = 0;
    std::memcpy(&quotedTarget, quoted + 16, sizeof quotedTarget);
    const uint8_t* request = quoted + quotedHeader;
    if (request[0] != 8 || Load16(request + 4) != identifier_ ||
        Load16(request + 6) != sequence_ || quotedTarget != target_)
      return false;
    reply.Address = source;
    reply.Status = IpStatusFromIcmp(type, icmp[1]);
    return true;
  }

  bool haveIdentifier_ = false;
};

class SocketIcmpLibrary final : public IcmpLibrary {
 public:
  explicit SocketIcmpLibrary(IcmpSocketKind kind) : kind_(kind) {}

  std::unique_ptr<IcmpChannel> CreateChannel() override {
    if (kind_ == IcmpSocketKind::Datagram) {
      auto channel = std::make_unique<DatagramChannel>();
      if (!channel->Init()) return nullptr;
      return channel;
    }
    auto channel = std::make_unique<RawChannel>();
    if (!channel->Init()) return nullptr;
    return channel;
  }

 private:
  IcmpSocketKind kind_;
};

}  // namespace

std::shared_ptr<IcmpLibrary> LoadIcmpLibrary(IcmpSocketKind kind) {
  auto library = std::make_shared<SocketIcmpLibrary>(kind);
  // The library counts as present when a channel of its kind can be made.
  if (library->CreateChannel() == nullptr) return nullptr;
  return library;
}

std::shared_ptr<IcmpLibrary> LoadIcmpLibrary() {
  if (auto library = LoadIcmpLibrary(IcmpSocketKind::Datagram)) return library;
  return LoadIcmpLibrary(IcmpSocketKind::Raw);
}

}  // namespace sentrel
