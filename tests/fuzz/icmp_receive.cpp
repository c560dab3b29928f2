// Fuzz target: the ICMP receive path. Arbitrary datagrams, and errors that
// quote a request, are handed to the matching code of both socket kinds of
// the echo library, and to the raw-socket reply parser of the probes.
//
// The library is driven through its public entry (LoadIcmpLibrary,
// CreateChannel, SendEcho) exactly as the program drives it; only the socket
// calls underneath are answered by this file: for an ICMP socket, socket,
// setsockopt, bind, getsockname, sendto, recv, recvmsg and ppoll are
// defined here (the program's own definitions take precedence over the C
// library's) and serve the datagrams of the input. Every other descriptor
// goes to the kernel unchanged.
//
// Properties: an answer is accepted only when it carries this request's
// identifier and sequence (an error: when the request it quotes does); a
// plain matching echo reply is never missed; a status is the one of the
// accepted message; a round trip never exceeds the time really waited.
#include <time.h>  // before the kernel header, which uses timespec

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/icmp_library.h"
#include "probes/echo_request.h"

namespace {

using namespace sentrel;

enum class Queue { Data, Error, PendingError };

// One thing the socket hands out: a datagram, an error-queue entry (datagram
// sockets), or a pending socket error that makes the next receive fail.
struct Arrival {
  Queue queue = Queue::Data;
  std::vector<uint8_t> bytes;
  uint8_t stamps = 0;         // which fields take the request's values (below)
  uint32_t from = 0;          // sender (datagram socket) or offender (error)
  uint8_t origin = 0, type = 0, code = 0;
  int error = 0;              // ee_errno, or the pending error
  bool timestamp = false;     // an SO_TIMESTAMPNS stamp comes with it
  int64_t stampOffsetNs = 0;  // that stamp, relative to the request's send time
};

enum Stamp : uint8_t {
  kStampReply = 1,   // the answer's own identifier and sequence
  kStampQuoted = 2,  // the quoted request's identifier and sequence
  kStampTarget = 4,  // the quoted request's destination
};

// What this file's socket knows of the current request and its answers.
struct FakeSocket {
  int fd = -1;
  bool raw = false;
  uint16_t port = 0;        // the datagram socket's identifier
  int sendFailures = 0;     // sendto attempts to refuse, each with sendError
  int sendError = 0;
  bool sent = false;
  uint16_t identifier = 0;  // of the request as sent
  uint16_t sequence = 0;
  uint32_t target = 0;
  int64_t sentRealtimeNs = 0;
  std::deque<Arrival> waiting;
  Arrival served;  // the latest one handed out
  bool servedAny = false;
  bool servedMatchingReply = false;
};

FakeSocket g_socket;

bool IsOurs(int fd) { return fd >= 0 && fd == g_socket.fd; }

uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
void Store16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value >> 8);
  p[1] = static_cast<uint8_t>(value);
}

int64_t RealtimeNs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// Where the ICMP message starts: after the IP header for a raw socket.
std::size_t IcmpOffset(const std::vector<uint8_t>& bytes, bool raw) {
  if (!raw) return 0;
  return bytes.empty() ? 0 : std::size_t{bytes[0] & 0x0Fu} * 4;
}

// Gives the answer the request's values where the input asks for them, so
// that matching answers are as easy to reach as foreign ones.
void ApplyStamps(Arrival& a) {
  std::vector<uint8_t>& b = a.bytes;
  const std::size_t icmp = IcmpOffset(b, g_socket.raw);
  if (a.stamps & kStampReply && b.size() >= icmp + 8) {
    Store16(&b[icmp + 4], g_socket.identifier);
    Store16(&b[icmp + 6], g_socket.sequence);
  }
  if (a.queue == Queue::Error && a.stamps & kStampQuoted && b.size() >= 8) {
    Store16(&b[6], g_socket.sequence);  // the error queue returns our request
  }
  if (!g_socket.raw) return;
  const std::size_t quoted = icmp + 8;
  if (b.size() < quoted + 20) return;
  if (a.stamps & kStampTarget) std::memcpy(&b[quoted + 16], &g_socket.target, 4);
  const std::size_t request = quoted + std::size_t{b[quoted] & 0x0Fu} * 4;
  if (a.stamps & kStampQuoted && b.size() >= request + 8) {
    Store16(&b[request + 4], g_socket.identifier);
    Store16(&b[request + 6], g_socket.sequence);
  }
}

// A reply that any reading of the rules must accept: a plain IPv4 header
// (raw) and an echo reply with this request's identifier and sequence.
bool PlainMatchingReply(const Arrival& a) {
  if (a.queue != Queue::Data) return false;
  const std::vector<uint8_t>& b = a.bytes;
  std::size_t icmp = 0;
  if (g_socket.raw) {
    if (b.size() < 28 || b[0] != 0x45 || b[9] != IPPROTO_ICMP) return false;
    icmp = 20;
  }
  return b.size() >= icmp + 8 && b.size() <= 1024 && b[icmp] == 0 &&
         Load16(&b[icmp + 4]) == g_socket.identifier && Load16(&b[icmp + 6]) == g_socket.sequence;
}

void PutControl(msghdr* message, int level, int type, const void* data, std::size_t size,
                std::size_t& used) {
  if (message->msg_control == nullptr || used + CMSG_SPACE(size) > message->msg_controllen) {
    message->msg_flags |= MSG_CTRUNC;
    return;
  }
  auto* c = reinterpret_cast<cmsghdr*>(static_cast<uint8_t*>(message->msg_control) + used);
  c->cmsg_level = level;
  c->cmsg_type = type;
  c->cmsg_len = CMSG_LEN(size);
  std::memcpy(CMSG_DATA(c), data, size);
  used += CMSG_SPACE(size);
}

// Hands out the next arrival of `queue` into `message`, as the kernel would.
ssize_t Serve(msghdr* message, Queue queue) {
  for (auto it = g_socket.waiting.begin(); it != g_socket.waiting.end(); ++it) {
    const bool errorQueue = queue == Queue::Error;
    if ((it->queue == Queue::Error) != errorQueue) continue;
    Arrival a = std::move(*it);
    g_socket.waiting.erase(it);
    if (a.queue == Queue::PendingError) {
      errno = a.error;
      return -1;
    }
    ApplyStamps(a);
    message->msg_flags = 0;
    std::size_t copied = 0;
    if (message->msg_iovlen > 0) {
      copied = std::min(a.bytes.size(), message->msg_iov[0].iov_len);
      if (copied > 0) std::memcpy(message->msg_iov[0].iov_base, a.bytes.data(), copied);
      if (copied < a.bytes.size()) message->msg_flags |= MSG_TRUNC;
    }
    if (message->msg_name != nullptr && message->msg_namelen >= sizeof(sockaddr_in)) {
      sockaddr_in from{};
      from.sin_family = AF_INET;
      from.sin_addr.s_addr = errorQueue ? g_socket.target : a.from;
      std::memcpy(message->msg_name, &from, sizeof from);
      message->msg_namelen = sizeof from;
    }
    std::size_t used = 0;
    if (a.timestamp) {
      const int64_t at = g_socket.sentRealtimeNs + a.stampOffsetNs;
      const timespec stamp{static_cast<time_t>(at / 1'000'000'000),
                           static_cast<long>(at % 1'000'000'000)};
      PutControl(message, SOL_SOCKET, SO_TIMESTAMPNS, &stamp, sizeof stamp, used);
    }
    if (errorQueue) {
      struct {
        sock_extended_err error;
        sockaddr_in offender;
      } extended{};
      extended.error.ee_errno = static_cast<uint32_t>(a.error);
      extended.error.ee_origin = a.origin;
      extended.error.ee_type = a.type;
      extended.error.ee_code = a.code;
      extended.offender.sin_family = AF_INET;
      extended.offender.sin_addr.s_addr = a.from;
      PutControl(message, SOL_IP, IP_RECVERR, &extended, sizeof extended, used);
    }
    message->msg_controllen = used;
    if (PlainMatchingReply(a)) g_socket.servedMatchingReply = true;
    g_socket.served = std::move(a);
    g_socket.servedAny = true;
    return static_cast<ssize_t>(copied);
  }
  errno = EAGAIN;
  return -1;
}

bool Waiting(Queue queue) {
  for (const Arrival& a : g_socket.waiting) {
    if ((a.queue == Queue::Error) == (queue == Queue::Error)) return true;
  }
  return false;
}

}  // namespace

// The socket calls of the library. Signatures as the C library declares them.
extern "C" {

int socket(int domain, int type, int protocol) noexcept {
  if (domain == AF_INET && protocol == IPPROTO_ICMP) {
    // A real descriptor, so that closing it needs nothing from this file.
    g_socket.fd = eventfd(0, EFD_CLOEXEC);
    g_socket.raw = (type & 0xF) == SOCK_RAW;
    return g_socket.fd;
  }
  return static_cast<int>(syscall(SYS_socket, domain, type, protocol));
}

int setsockopt(int fd, int level, int name, const void* value, socklen_t length) noexcept {
  if (!IsOurs(fd)) return static_cast<int>(syscall(SYS_setsockopt, fd, level, name, value, length));
  if (level == IPPROTO_IP && name == IP_TTL && length >= sizeof(int)) {
    int ttl = 0;
    std::memcpy(&ttl, value, sizeof ttl);
    if (ttl == 0) {  // refused by the kernel
      errno = EINVAL;
      return -1;
    }
  }
  return 0;
}

int bind(int fd, const sockaddr* address, socklen_t length) noexcept {
  if (!IsOurs(fd)) return static_cast<int>(syscall(SYS_bind, fd, address, length));
  return 0;
}

int getsockname(int fd, sockaddr* address, socklen_t* length) noexcept {
  if (!IsOurs(fd)) return static_cast<int>(syscall(SYS_getsockname, fd, address, length));
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_port = htons(g_socket.port);
  std::memcpy(address, &self, std::min<std::size_t>(*length, sizeof self));
  *length = sizeof self;
  return 0;
}

ssize_t sendto(int fd, const void* buffer, size_t length, int flags, const sockaddr* to,
               socklen_t toLength) {
  if (!IsOurs(fd)) return syscall(SYS_sendto, fd, buffer, length, flags, to, toLength);
  if (g_socket.sendFailures > 0) {
    --g_socket.sendFailures;
    errno = g_socket.sendError;
    return -1;
  }
  const auto* request = static_cast<const uint8_t*>(buffer);
  FUZZ_CHECK(length >= 8 && request[0] == 8);
  g_socket.identifier = g_socket.raw ? Load16(request + 4) : g_socket.port;
  g_socket.sequence = Load16(request + 6);
  sockaddr_in target{};
  std::memcpy(&target, to, std::min<std::size_t>(toLength, sizeof target));
  g_socket.target = target.sin_addr.s_addr;
  g_socket.sent = true;
  g_socket.sentRealtimeNs = RealtimeNs();
  return static_cast<ssize_t>(length);
}

ssize_t recv(int fd, void* buffer, size_t length, int flags) {
  if (!IsOurs(fd)) return syscall(SYS_recvfrom, fd, buffer, length, flags, nullptr, nullptr);
  errno = EAGAIN;  // nothing is queued before the request
  return -1;
}

ssize_t recvmsg(int fd, msghdr* message, int flags) {
  if (!IsOurs(fd)) return syscall(SYS_recvmsg, fd, message, flags);
  if (!g_socket.sent) {
    errno = EAGAIN;
    return -1;
  }
  return Serve(message, flags & MSG_ERRQUEUE ? Queue::Error : Queue::Data);
}

// The C library declares the descriptor array write-only, though ppoll
// reads the descriptors in it; GCC then takes reading them for a use of
// uninitialised memory.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
int ppoll(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask) {
  if (count == 0 || !IsOurs(fds[0].fd)) {
    return static_cast<int>(syscall(SYS_ppoll, fds, count, timeout, mask, _NSIG / 8));
  }
  for (nfds_t i = 0; i < count; ++i) fds[i].revents = 0;
  const bool data = Waiting(Queue::Data);
  const bool error = Waiting(Queue::Error);
  if (!data && !error) {
    // Nothing left to hand out: the wait ends at once as a time-out would,
    // through the channel's own wake-up (what Interrupt does), instead of
    // spending the time-out for real.
    if (count < 2) return 0;
    const uint64_t one = 1;
    if (::write(fds[1].fd, &one, sizeof one) != sizeof one) return 0;
    fds[1].revents = POLLIN;
    return 1;
  }
  fds[0].revents = static_cast<short>((data ? POLLIN : 0) | (error ? POLLERR : 0));
  return 1;
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // extern "C"

namespace {

// The probes' raw-socket path reads replies with its own parser.
void CheckRawEchoParser(const std::vector<uint8_t>& datagram, uint16_t identifier,
                        uint16_t sequence, uint32_t timestamp) {
  if (const auto reply = ParseRawEchoReply(datagram, identifier)) {
    FUZZ_CHECK(datagram.size() >= 32 && datagram[20] == 0);
  }
  // An answer built the way a host answers our request is read back.
  std::vector<uint8_t> answer = {0x45, 0, 0, 0, 0, 0, 0, 0, 64, IPPROTO_ICMP, 0, 0,
                                 198,  18, 0, 1, 198, 18, 0, 2};
  std::vector<uint8_t> echo = BuildEchoRequest(identifier, sequence, timestamp, 16);
  echo[0] = 0;
  answer.insert(answer.end(), echo.begin(), echo.end());
  const auto reply = ParseRawEchoReply(answer, identifier);
  FUZZ_CHECK(reply && reply->sequence == sequence && reply->timestamp == timestamp);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const std::shared_ptr<IcmpLibrary> libraries[2] = {
      LoadIcmpLibrary(IcmpSocketKind::Datagram), LoadIcmpLibrary(IcmpSocketKind::Raw)};
  fuzz::ByteReader input(data, size);
  const uint8_t setup = input.Byte();
  const bool raw = setup & 1;
  g_socket = FakeSocket{};
  g_socket.port = input.Word();
  g_socket.sendFailures = setup >> 1 & 3;
  g_socket.sendError = input.Byte();
  IcmpEchoOptions options;
  options.Ttl = input.Byte();
  options.Tos = input.Byte();
  const uint32_t address = input.Long();
  const std::vector<uint8_t> payload(input.Byte() % 65, 0xA5);

  while (!input.Empty() && g_socket.waiting.size() < 32) {
    Arrival a;
    const uint8_t head = input.Byte();
    a.queue = static_cast<Queue>((head & 3) % 3);
    if (raw && a.queue == Queue::Error) a.queue = Queue::Data;
    a.stamps = static_cast<uint8_t>(head >> 2 & 7);
    a.timestamp = head & 0x20;
    a.stampOffsetNs = static_cast<int32_t>(input.Long()) * int64_t{1000};
    a.from = input.Long();
    a.origin = input.Byte() % 6;  // SO_EE_ORIGIN_NONE .. SO_EE_ORIGIN_TXSTATUS
    a.type = input.Byte();
    a.code = input.Byte();
    a.error = input.Byte();
    const std::string_view bytes = input.Take(input.Word() % 1100);
    a.bytes.assign(bytes.begin(), bytes.end());
    if (raw) CheckRawEchoParser(a.bytes, a.from & 0xFFFF, a.from >> 16, a.from);
    g_socket.waiting.push_back(std::move(a));
  }

  const std::unique_ptr<IcmpChannel> channel = libraries[raw ? 1 : 0]->CreateChannel();
  FUZZ_CHECK(channel != nullptr);
  IcmpEchoReply reply;
  const auto start = std::chrono::steady_clock::now();
  const int answered = channel->SendEcho(address, payload, options, reply, 1000);
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start).count();

  FUZZ_CHECK(answered == 0 || answered == 1);
  // The figure is rounded to whole milliseconds from a measure taken inside
  // the wait, and may use the receive stamp up to 1 ms past it.
  FUZZ_CHECK(reply.RoundTripTime <= waited + 2);
  if (!g_socket.sent) {
    // Refused before it left: no answer, the target as the address.
    FUZZ_CHECK(answered == 0 && reply.Address == address && reply.Status != kIpSuccess);
    return 0;
  }
  FUZZ_CHECK(g_socket.target == address);
  if (answered == 0) {
    FUZZ_CHECK(!g_socket.servedMatchingReply);
    FUZZ_CHECK(reply.Status != kIpSuccess);
    return 0;
  }

  // The accepted answer is the last one handed out; it must be about us.
  FUZZ_CHECK(g_socket.servedAny);
  const Arrival& a = g_socket.served;
  const std::vector<uint8_t>& b = a.bytes;
  const std::size_t icmp = IcmpOffset(b, raw);
  const std::size_t seen = std::min<std::size_t>(b.size(), 1024);
  FUZZ_CHECK(seen >= icmp + 8);
  if (a.queue == Queue::Error) {
    // Datagram socket: the error queue returns the request it is about.
    FUZZ_CHECK(!raw && Load16(&b[6]) == g_socket.sequence && a.origin == SO_EE_ORIGIN_ICMP);
    FUZZ_CHECK(reply.Status == IpStatusFromIcmp(a.type, a.code) && reply.Address == a.from);
    return 0;
  }
  const uint8_t type = b[icmp];
  if (type == 0) {
    FUZZ_CHECK(reply.Status == kIpSuccess);
    FUZZ_CHECK(Load16(&b[icmp + 4]) == g_socket.identifier &&
               Load16(&b[icmp + 6]) == g_socket.sequence);
    uint32_t source = a.from;
    if (raw) std::memcpy(&source, &b[12], sizeof source);
    FUZZ_CHECK(reply.Address == source);
    return 0;
  }
  // Raw socket: an error message about our request, quoted inside it.
  FUZZ_CHECK(raw);
  const std::size_t quoted = icmp + 8;
  FUZZ_CHECK(seen >= quoted + 20);
  const std::size_t request = quoted + std::size_t{b[quoted] & 0x0Fu} * 4;
  FUZZ_CHECK(seen >= request + 8 && b[request] == 8);
  FUZZ_CHECK(Load16(&b[request + 4]) == g_socket.identifier &&
             Load16(&b[request + 6]) == g_socket.sequence);
  FUZZ_CHECK(std::memcmp(&b[quoted + 16], &g_socket.target, 4) == 0);
  FUZZ_CHECK(reply.Status == IpStatusFromIcmp(type, b[icmp + 1]) && reply.Status != kIpSuccess);
  return 0;
}
