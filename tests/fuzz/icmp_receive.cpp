// Fuzz target: the ICMP receive path. Arbitrary datagrams, and errors that
// quote a request, are handed to the matching code of both socket kinds and
// both families (ICMP and ICMPv6) of the echo library, and to the raw-socket
// reply parser of the probes.
//
// The library is driven through its public entry (LoadIcmpLibrary,
// CreateChannel, SendEcho, SendEcho6) exactly as the program drives it; only
// the socket calls underneath are answered by this file: for an ICMP socket
// of the family under test, socket,
// setsockopt, getsockopt, bind, getsockname, sendmsg, recvmmsg, recvmsg and
// ppoll are defined here (the program's own definitions take precedence
// over the C library's) and serve the datagrams of the input; the other
// family's socket, which every channel also opens, is made and set up and
// then stays silent. Every other descriptor goes to the kernel unchanged. The socket filters the engine
// attaches are taken but not applied: every datagram reaches its own checks.
// Each input loads a library of its own, so the engine under it starts
// afresh: a new socket, the input's port, sequences from the start. Only a
// raw socket's identifier, drawn from the process's pool, differs from run to
// run; the stamps give answers the one in use.
//
// Properties: the request leaves as a well-formed echo request with the
// caller's data; the accepted answer is the first one handed out that names
// one of this request's sequences with its identifier (an error: whose quoted
// request does, sent to this target; an error-queue entry: whose returned
// request does), and the reply is made from that one; without such an answer
// the engine reads everything that comes and then reports a time-out; a
// refused send gives the refusal's status; a round trip never exceeds the
// time really waited.
#include <time.h>  // before the kernel header, which uses timespec

#include <linux/errqueue.h>
#include <netinet/icmp6.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <optional>
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
  uint8_t send = 0;           // whose sequence they take: sends back from the latest
  bool late = false;          // comes only while the engine waits on the socket
  bool dropsBefore = false;   // the socket dropped answers just before this one
  uint32_t from = 0;          // sender (datagram socket) or offender (error)
  uint8_t origin = 0, type = 0, code = 0;
  int error = 0;              // ee_errno, or the pending error
  bool timestamp = false;     // an SO_TIMESTAMPNS stamp comes with it
  int64_t stampOffsetNs = 0;  // that stamp, relative to the latest send's time
};

enum Stamp : uint8_t {
  kStampReply = 1,   // the answer's own identifier and sequence
  kStampQuoted = 2,  // the quoted request's identifier and sequence
  kStampTarget = 4,  // the quoted request's destination
};

// What this file's socket knows of the current request and its answers.
struct FakeSocket {
  int fd = -1;
  int idleFd = -1;          // the other family's socket
  bool raw = false;
  bool v6 = false;          // ICMPv6 under test
  uint16_t port = 0;        // the datagram socket's identifier
  IcmpChannel* channel = nullptr;
  std::span<const uint8_t> payload;  // the caller's data
  bool timestamps = false;  // SO_TIMESTAMPNS asked for
  uint32_t receiveBuffer = 0;
  uint32_t drops = 0;       // answers the socket "dropped" so far
  int sendFailures = 0;     // sendmsg attempts to refuse, each with sendError
  int sendError = 0;
  int lastSendError = 0;    // the refusal the latest failed attempt got
  bool sent = false;
  uint16_t identifier = 0;  // of the request as sent
  std::vector<uint16_t> sequences;  // every sequence the request was sent with
  uint32_t target = 0;      // IPv4, or the last four bytes of the IPv6 target
  std::array<uint8_t, 16> target6{};
  int64_t sentRealtimeNs = 0;
  std::deque<Arrival> waiting;
  bool ranDry = false;      // the engine waited with nothing more to come
  // The first answer handed out that must be accepted, as handed out.
  std::optional<Arrival> accepted;
};

FakeSocket g_socket;

bool IsOurs(int fd) { return fd >= 0 && fd == g_socket.fd; }
bool IsIdle(int fd) { return fd >= 0 && fd == g_socket.idleFd; }

// The IPv6 address that stands for the input's 32 bits: fd00::/96 and them.
std::array<uint8_t, 16> Six(uint32_t bits) {
  std::array<uint8_t, 16> address{0xfd};
  std::memcpy(&address[12], &bits, 4);
  return address;
}

IpAddress AddressOf(uint32_t bits) {
  return g_socket.v6 ? IpAddress::V6(Six(bits)) : IpAddress::V4(bits);
}

uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
void Store16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value >> 8);
  p[1] = static_cast<uint8_t>(value);
}
uint32_t LoadAddress(const uint8_t* p) {
  uint32_t address = 0;
  std::memcpy(&address, p, sizeof address);
  return address;
}

int64_t RealtimeNs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

bool OurSequence(uint16_t sequence) {
  return std::find(g_socket.sequences.begin(), g_socket.sequences.end(), sequence) !=
         g_socket.sequences.end();
}

bool NamesOurRequest(const uint8_t* idAndSequence) {
  return Load16(idAndSequence) == g_socket.identifier && OurSequence(Load16(idAndSequence + 2));
}

// Where the ICMP message starts: after the IP header for a raw IPv4 socket.
std::size_t IcmpOffset(const std::vector<uint8_t>& bytes, bool raw) {
  if (!raw || g_socket.v6) return 0;
  return bytes.empty() ? 0 : std::size_t{bytes[0] & 0x0Fu} * 4;
}

// Gives the answer the request's values where the input asks for them, so
// that matching answers are as easy to reach as foreign ones.
void ApplyStamps(Arrival& a) {
  if (g_socket.sequences.empty()) return;
  const std::size_t sends = g_socket.sequences.size();
  const uint16_t sequence = g_socket.sequences[sends - 1 - a.send % sends];
  std::vector<uint8_t>& b = a.bytes;
  const std::size_t icmp = IcmpOffset(b, g_socket.raw);
  if (a.stamps & kStampReply && b.size() >= icmp + 8) {
    Store16(&b[icmp + 4], g_socket.identifier);
    Store16(&b[icmp + 6], sequence);
  }
  if (a.queue == Queue::Error && a.stamps & kStampQuoted && b.size() >= 8) {
    // The error queue returns our request as it left.
    Store16(&b[4], g_socket.identifier);
    Store16(&b[6], sequence);
  }
  if (!g_socket.raw) return;
  const std::size_t quoted = icmp + 8;
  if (g_socket.v6) {
    // The quoted IPv6 header is 40 bytes, the destination at 24.
    if (a.stamps & kStampTarget && b.size() >= quoted + 40)
      std::memcpy(&b[quoted + 24], g_socket.target6.data(), 16);
    if (a.stamps & kStampQuoted && b.size() >= quoted + 48) {
      Store16(&b[quoted + 44], g_socket.identifier);
      Store16(&b[quoted + 46], sequence);
    }
    return;
  }
  if (b.size() < quoted + 20) return;
  if (a.stamps & kStampTarget) std::memcpy(&b[quoted + 16], &g_socket.target, 4);
  const std::size_t request = quoted + std::size_t{b[quoted] & 0x0Fu} * 4;
  if (a.stamps & kStampQuoted && b.size() >= request + 8) {
    Store16(&b[request + 4], g_socket.identifier);
    Store16(&b[request + 6], sequence);
  }
}

// The length of an IPv4 header carrying ICMP at `p`, when `size` bytes hold
// it and `after` more; else 0.
std::size_t IcmpIpHeader(const uint8_t* p, std::size_t size, std::size_t after) {
  if (size < 20 || p[0] >> 4 != 4 || p[9] != IPPROTO_ICMP) return 0;
  const std::size_t header = std::size_t{p[0] & 0x0Fu} * 4;
  return header >= 20 && size >= header + after ? header : 0;
}

// Whether the engine must take `a`, of which it reads `seen` bytes, for the
// answer to the current request: an echo reply that names one of its
// sequences; an ICMP error (unreachable, source quench, time exceeded,
// parameter problem) that quotes such a request sent to its target; an
// error-queue entry that returns such a request.
bool MustAccept6(const Arrival& a, std::size_t seen) {
  const uint8_t* b = a.bytes.data();
  if (seen < 8) return false;
  if (b[0] == ICMP6_ECHO_REPLY) return NamesOurRequest(b + 4);
  // Datagram sockets get errors through the error queue only.
  if (!g_socket.raw || b[0] < 1 || b[0] > 4 || seen < 56) return false;
  const uint8_t* quoted = b + 8;
  const uint8_t* request = quoted + 40;
  return quoted[0] >> 4 == 6 && quoted[6] == IPPROTO_ICMPV6 && request[0] == ICMP6_ECHO_REQUEST &&
         NamesOurRequest(request + 4) && std::memcmp(quoted + 24, g_socket.target6.data(), 16) == 0;
}

bool MustAccept(const Arrival& a, std::size_t seen) {
  const uint8_t* b = a.bytes.data();
  if (a.queue == Queue::Error) return seen >= 8 && NamesOurRequest(b + 4);
  if (g_socket.v6) return MustAccept6(a, seen);
  if (!g_socket.raw) return seen >= 8 && b[0] == 0 && NamesOurRequest(b + 4);
  const std::size_t icmp = IcmpIpHeader(b, seen, 8);
  if (icmp == 0) return false;
  const uint8_t type = b[icmp];
  if (type == 0) return NamesOurRequest(b + icmp + 4);
  if (type != 3 && type != 4 && type != 11 && type != 12) return false;
  const std::size_t quoted = icmp + 8;
  const std::size_t header = IcmpIpHeader(b + quoted, seen - quoted, 8);
  if (header == 0) return false;
  const uint8_t* request = b + quoted + header;
  return request[0] == 8 && NamesOurRequest(request + 4) &&
         LoadAddress(b + quoted + 16) == g_socket.target;
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

bool OfQueue(const Arrival& a, Queue queue) {
  return (a.queue == Queue::Error) == (queue == Queue::Error);
}

// The next arrival that a read of `queue` gets now: arrivals come in input
// order, and a late one (with all behind it) only once the engine waits.
std::deque<Arrival>::iterator Next(Queue queue) {
  for (auto it = g_socket.waiting.begin(); it != g_socket.waiting.end(); ++it) {
    if (it->late) break;
    if (OfQueue(*it, queue)) return it;
  }
  return g_socket.waiting.end();
}

// What a wait on the socket reports now, as the kernel's poll does: POLLIN
// for a datagram, POLLERR for an error-queue entry or a pending error.
short Events() {
  short events = 0;
  for (const Arrival& a : g_socket.waiting) {
    if (a.late) break;
    events |= a.queue == Queue::Data ? POLLIN : POLLERR;
  }
  return events;
}

// Hands out `it` (a datagram or error-queue entry) into `message`, as the
// kernel would; returns the bytes copied.
ssize_t Hand(std::deque<Arrival>::iterator it, msghdr* message) {
  Arrival a = std::move(*it);
  g_socket.waiting.erase(it);
  const bool errorQueue = a.queue == Queue::Error;
  if (a.dropsBefore) ++g_socket.drops;
  ApplyStamps(a);
  message->msg_flags = errorQueue ? MSG_ERRQUEUE : 0;
  std::size_t copied = 0;
  if (message->msg_iovlen > 0) {
    copied = std::min(a.bytes.size(), message->msg_iov[0].iov_len);
    if (copied > 0) std::memcpy(message->msg_iov[0].iov_base, a.bytes.data(), copied);
    if (copied < a.bytes.size()) message->msg_flags |= MSG_TRUNC;
  }
  if (g_socket.v6 && message->msg_name != nullptr && message->msg_namelen >= sizeof(sockaddr_in6)) {
    sockaddr_in6 from{};
    from.sin6_family = AF_INET6;
    const auto address = errorQueue ? g_socket.target6 : Six(a.from);
    std::memcpy(&from.sin6_addr, address.data(), 16);
    std::memcpy(message->msg_name, &from, sizeof from);
    message->msg_namelen = sizeof from;
  } else if (!g_socket.v6 && message->msg_name != nullptr &&
             message->msg_namelen >= sizeof(sockaddr_in)) {
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = errorQueue ? g_socket.target : a.from;
    std::memcpy(message->msg_name, &from, sizeof from);
    message->msg_namelen = sizeof from;
  }
  std::size_t used = 0;
  if (a.timestamp && g_socket.timestamps) {
    const int64_t at = g_socket.sentRealtimeNs + a.stampOffsetNs;
    const timespec stamp{static_cast<time_t>(at / 1'000'000'000),
                         static_cast<long>(at % 1'000'000'000)};
    PutControl(message, SOL_SOCKET, SO_TIMESTAMPNS, &stamp, sizeof stamp, used);
  }
  if (errorQueue && g_socket.v6) {
    struct {
      sock_extended_err error;
      sockaddr_in6 offender;
    } extended{};
    extended.error.ee_errno = static_cast<uint32_t>(a.error);
    extended.error.ee_origin = a.origin;
    extended.error.ee_type = a.type;
    extended.error.ee_code = a.code;
    extended.offender.sin6_family = AF_INET6;
    const auto offender = Six(a.from);
    std::memcpy(&extended.offender.sin6_addr, offender.data(), 16);
    PutControl(message, SOL_IPV6, IPV6_RECVERR, &extended, sizeof extended, used);
  } else if (errorQueue) {
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
  // The rules apply to what the engine's buffer got of the message.
  if (!g_socket.accepted && MustAccept(a, copied)) {
    a.bytes.resize(copied);
    g_socket.accepted = std::move(a);
  }
  return static_cast<ssize_t>(copied);
}

// A pending socket error, as the next read reports it (the kernel's is
// never 0).
ssize_t FailWith(std::deque<Arrival>::iterator it) {
  errno = it->error != 0 ? it->error : ECONNREFUSED;
  g_socket.waiting.erase(it);
  return -1;
}

// The request as the engine sends it: an echo request with a valid checksum
// and the caller's data.
void CheckRequest(const msghdr* message) {
  std::vector<uint8_t> request;
  for (std::size_t i = 0; i < message->msg_iovlen; ++i) {
    const auto* part = static_cast<const uint8_t*>(message->msg_iov[i].iov_base);
    request.insert(request.end(), part, part + message->msg_iov[i].iov_len);
  }
  FUZZ_CHECK(request.size() == 8 + g_socket.payload.size() && request[1] == 0);
  if (g_socket.v6) {
    // The kernel fills in the checksum, which covers the addresses.
    FUZZ_CHECK(request[0] == ICMP6_ECHO_REQUEST && request[2] == 0 && request[3] == 0);
  } else {
    FUZZ_CHECK(request[0] == 8 && InternetChecksum(request) == 0);
  }
  FUZZ_CHECK(std::equal(request.begin() + 8, request.end(), g_socket.payload.begin()));
  g_socket.identifier = g_socket.raw ? Load16(&request[4]) : g_socket.port;
  const uint16_t sequence = Load16(&request[6]);
  // A request sent again after a refusal keeps its sequence.
  if (g_socket.sequences.empty() || g_socket.sequences.back() != sequence)
    g_socket.sequences.push_back(sequence);
}

// The checks the kernel makes of a send's control data: TTL 1..255 as an
// int, TOS 0..255 as an int or a byte; for IPv6 hop limit and traffic class
// -1..255 as an int. Returns the errno of a refusal, or 0.
int ControlError(const msghdr* message) {
  auto* header = const_cast<msghdr*>(message);
  for (cmsghdr* c = CMSG_FIRSTHDR(header); c != nullptr; c = CMSG_NXTHDR(header, c)) {
    if (g_socket.v6) {
      if (c->cmsg_level != IPPROTO_IPV6) return EINVAL;
      if (c->cmsg_type != IPV6_HOPLIMIT && c->cmsg_type != IPV6_TCLASS) return EINVAL;
      if (c->cmsg_len != CMSG_LEN(sizeof(int))) return EINVAL;
      int value = 0;
      std::memcpy(&value, CMSG_DATA(c), sizeof value);
      if (value < -1 || value > 255) return EINVAL;
      continue;
    }
    if (c->cmsg_level != IPPROTO_IP) continue;
    if (c->cmsg_type != IP_TTL && c->cmsg_type != IP_TOS) return EINVAL;
    int value = 0;
    if (c->cmsg_len == CMSG_LEN(sizeof(int))) {
      std::memcpy(&value, CMSG_DATA(c), sizeof value);
    } else if (c->cmsg_type == IP_TOS && c->cmsg_len == CMSG_LEN(1)) {
      value = *CMSG_DATA(c);
    } else {
      return EINVAL;
    }
    if (value < (c->cmsg_type == IP_TTL ? 1 : 0) || value > 255) return EINVAL;
  }
  return 0;
}

}  // namespace

// The socket calls of the library. Signatures as the C library declares them.
extern "C" {

int socket(int domain, int type, int protocol) noexcept {
  const bool icmp4 = domain == AF_INET && protocol == IPPROTO_ICMP;
  const bool icmp6 = domain == AF_INET6 && protocol == IPPROTO_ICMPV6;
  if (icmp4 || icmp6) {
    // A real descriptor, so that closing it needs nothing from this file.
    const int fd = eventfd(0, EFD_CLOEXEC);
    if (icmp6 != g_socket.v6) {
      g_socket.idleFd = fd;
      return fd;
    }
    g_socket.fd = fd;
    g_socket.raw = (type & 0xF) == SOCK_RAW;
    return g_socket.fd;
  }
  return static_cast<int>(syscall(SYS_socket, domain, type, protocol));
}

int setsockopt(int fd, int level, int name, const void* value, socklen_t length) noexcept {
  if (IsIdle(fd)) return 0;
  if (!IsOurs(fd)) return static_cast<int>(syscall(SYS_setsockopt, fd, level, name, value, length));
  if (level == SOL_SOCKET && length >= sizeof(int)) {
    int number = 0;
    std::memcpy(&number, value, sizeof number);
    if (name == SO_TIMESTAMPNS) g_socket.timestamps = number != 0;
    // The kernel keeps twice the size asked for, for its bookkeeping.
    if (name == SO_RCVBUF || name == SO_RCVBUFFORCE)
      g_socket.receiveBuffer = 2 * static_cast<uint32_t>(std::max(number, 0));
  }
  return 0;
}

int getsockopt(int fd, int level, int name, void* value, socklen_t* length) noexcept {
  if (!IsOurs(fd)) return static_cast<int>(syscall(SYS_getsockopt, fd, level, name, value, length));
  if (level != SOL_SOCKET || name != SO_MEMINFO) {
    errno = ENOPROTOOPT;
    return -1;
  }
  uint32_t info[SK_MEMINFO_VARS] = {};
  info[SK_MEMINFO_RCVBUF] = g_socket.receiveBuffer;
  info[SK_MEMINFO_DROPS] = g_socket.drops;
  *length = static_cast<socklen_t>(std::min<std::size_t>(*length, sizeof info));
  std::memcpy(value, info, *length);
  return 0;
}

int bind(int fd, const sockaddr* address, socklen_t length) noexcept {
  if (IsIdle(fd)) return 0;
  if (!IsOurs(fd)) return static_cast<int>(syscall(SYS_bind, fd, address, length));
  return 0;
}

int getsockname(int fd, sockaddr* address, socklen_t* length) noexcept {
  if (!IsOurs(fd) && !IsIdle(fd))
    return static_cast<int>(syscall(SYS_getsockname, fd, address, length));
  // The port stands at the same place in both families' records.
  sockaddr_in6 self{};
  self.sin6_family = g_socket.v6 == IsOurs(fd) ? AF_INET6 : AF_INET;
  self.sin6_port = htons(g_socket.port);
  const std::size_t size = self.sin6_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  std::memcpy(address, &self, std::min<std::size_t>(*length, size));
  *length = static_cast<socklen_t>(size);
  return 0;
}

ssize_t sendmsg(int fd, const msghdr* message, int flags) {
  if (!IsOurs(fd)) return syscall(SYS_sendmsg, fd, message, flags);
  const std::size_t nameSize = g_socket.v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (message->msg_name == nullptr || message->msg_namelen < nameSize) {
    errno = EDESTADDRREQ;
    return -1;
  }
  if (const int error = ControlError(message); error != 0) {
    errno = g_socket.lastSendError = error;
    return -1;
  }
  CheckRequest(message);
  if (g_socket.sendFailures > 0) {
    --g_socket.sendFailures;
    errno = g_socket.lastSendError = g_socket.sendError;
    return -1;
  }
  if (g_socket.v6) {
    sockaddr_in6 target{};
    std::memcpy(&target, message->msg_name, sizeof target);
    std::memcpy(g_socket.target6.data(), &target.sin6_addr, 16);
    std::memcpy(&g_socket.target, &g_socket.target6[12], 4);
  } else {
    sockaddr_in target{};
    std::memcpy(&target, message->msg_name, sizeof target);
    g_socket.target = target.sin_addr.s_addr;
  }
  g_socket.sent = true;
  g_socket.sentRealtimeNs = RealtimeNs();
  std::size_t length = 0;
  for (std::size_t i = 0; i < message->msg_iovlen; ++i) length += message->msg_iov[i].iov_len;
  return static_cast<ssize_t>(length);
}

int recvmmsg(int fd, mmsghdr* messages, unsigned int count, int flags, timespec* timeout) {
  if (!IsOurs(fd)) {
    return static_cast<int>(syscall(SYS_recvmmsg, fd, messages, count, flags, timeout));
  }
  const Queue queue = flags & MSG_ERRQUEUE ? Queue::Error : Queue::Data;
  unsigned int n = 0;
  while (g_socket.sent && n < count) {
    const auto it = Next(queue);
    if (it == g_socket.waiting.end()) break;
    // A pending error ends a batch; when it comes first, the call fails.
    if (it->queue == Queue::PendingError) {
      if (n > 0) break;
      return static_cast<int>(FailWith(it));
    }
    messages[n].msg_len = static_cast<unsigned int>(Hand(it, &messages[n].msg_hdr));
    ++n;
  }
  if (n == 0) {
    errno = EAGAIN;
    return -1;
  }
  return static_cast<int>(n);
}

ssize_t recvmsg(int fd, msghdr* message, int flags) {
  if (!IsOurs(fd)) return syscall(SYS_recvmsg, fd, message, flags);
  const auto it = Next(flags & MSG_ERRQUEUE ? Queue::Error : Queue::Data);
  if (!g_socket.sent || it == g_socket.waiting.end()) {
    errno = EAGAIN;
    return -1;
  }
  return it->queue == Queue::PendingError ? FailWith(it) : Hand(it, message);
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
  if (Events() == 0) {
    // The wait lasts until the next late arrival comes.
    for (Arrival& a : g_socket.waiting) {
      if (a.late) {
        a.late = false;
        break;
      }
    }
  }
  const short events = Events();
  if (events == 0) {
    // Nothing more comes: the wait ends at once, as a time-out would, by the
    // channel's Interrupt (its wake-up is then what the wait returns with)
    // instead of spending the time-out for real.
    g_socket.ranDry = true;
    g_socket.channel->Interrupt();
    const timespec now{};
    return static_cast<int>(syscall(SYS_ppoll, fds, count, &now, mask, _NSIG / 8));
  }
  for (nfds_t i = 0; i < count; ++i) fds[i].revents = 0;
  fds[0].revents = events;
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

struct Outcome {
  int answered = 0;
  Icmp6EchoReply reply;  // both families' replies
  int64_t waitedUs = 0;
};

constexpr int kTimeoutMs = 1000;

// One request through a library of its own, whose engine (and socket) is
// gone again when this returns.
Outcome SendOneEcho(bool raw, uint32_t address, std::span<const uint8_t> payload,
                const IcmpEchoOptions& options) {
  const std::shared_ptr<IcmpLibrary> library =
      LoadIcmpLibrary(raw ? IcmpSocketKind::Raw : IcmpSocketKind::Datagram);
  FUZZ_CHECK(library != nullptr);
  const std::unique_ptr<IcmpChannel> channel = library->CreateChannel();
  FUZZ_CHECK(channel != nullptr);
  g_socket.channel = channel.get();
  Outcome out;
  const auto start = std::chrono::steady_clock::now();
  if (g_socket.v6) {
    out.answered = channel->SendEcho6(AddressOf(address), payload, options, out.reply, kTimeoutMs);
  } else {
    IcmpEchoReply reply;
    out.answered = channel->SendEcho(address, payload, options, reply, kTimeoutMs);
    out.reply = {IpAddress::V4(reply.Address), reply.Status, reply.RoundTripTime,
                 reply.RoundTripMicroseconds};
  }
  out.waitedUs = std::chrono::duration_cast<std::chrono::microseconds>(
                     std::chrono::steady_clock::now() - start).count();
  g_socket.channel = nullptr;
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::ByteReader input(data, size);
  const uint8_t setup = input.Byte();
  const bool raw = setup & 1;
  g_socket = FakeSocket{};
  g_socket.v6 = setup & 0x10;
  g_socket.port = input.Word();
  g_socket.sendFailures = setup >> 1 & 7;
  g_socket.sendError = input.Byte();
  if (g_socket.sendError == 0) g_socket.sendError = EPERM;  // the kernel's is never 0
  IcmpEchoOptions options;
  options.Ttl = input.Byte();
  options.Tos = input.Byte();
  const uint32_t address = input.Long();
  const std::vector<uint8_t> payload(input.Byte() % 65, 0xA5);
  g_socket.payload = payload;

  while (!input.Empty() && g_socket.waiting.size() < 32) {
    Arrival a;
    const uint8_t head = input.Byte();
    a.queue = static_cast<Queue>((head & 3) % 3);
    if (raw && a.queue == Queue::Error) a.queue = Queue::Data;
    a.stamps = static_cast<uint8_t>(head >> 2 & 7);
    a.timestamp = head & 0x20;
    a.late = head & 0x40;
    a.dropsBefore = head & 0x80;
    a.send = input.Byte();
    a.stampOffsetNs = static_cast<int32_t>(input.Long()) * int64_t{1000};
    a.from = input.Long();
    a.origin = input.Byte() % 6;  // SO_EE_ORIGIN_NONE .. SO_EE_ORIGIN_TXSTATUS
    a.type = input.Byte();
    a.code = input.Byte();
    a.error = input.Byte();
    const std::string_view bytes = input.Take(input.Word() % 1100);
    a.bytes.assign(bytes.begin(), bytes.end());
    if (raw && !g_socket.v6) CheckRawEchoParser(a.bytes, a.from & 0xFFFF, a.from >> 16, a.from);
    g_socket.waiting.push_back(std::move(a));
  }

  const Outcome out = SendOneEcho(raw, address, payload, options);
  g_socket.fd = g_socket.idleFd = -1;  // closed with the engines
  const Icmp6EchoReply& reply = out.reply;
  const IpAddress target = AddressOf(address);

  FUZZ_CHECK(out.answered == 0 || out.answered == 1);
  // The round trip is measured inside the wait, and may use the receive
  // stamp up to 1 ms past it; both figures are rounded from one measure.
  const int64_t trip = reply.RoundTripMicroseconds;
  FUZZ_CHECK(trip <= out.waitedUs + 1001);
  FUZZ_CHECK(trip + 501 >= int64_t{reply.RoundTripTime} * 1000 &&
             trip <= int64_t{reply.RoundTripTime} * 1000 + 500);
  if (out.answered == 0) FUZZ_CHECK(reply.RoundTripTime == 0 && trip == 0);
  if (!g_socket.sent) {
    // Refused before it left: no answer, the target as the address, the
    // refusal's status.
    FUZZ_CHECK(out.answered == 0 && reply.Address == target);
    FUZZ_CHECK(reply.Status == IpStatusFromErrno(g_socket.lastSendError));
    return 0;
  }
  FUZZ_CHECK(g_socket.target == address);
  if (g_socket.v6) FUZZ_CHECK(g_socket.target6 == Six(address));
  if (!g_socket.accepted) {
    // Nothing about us came: the engine read all there was, then timed out.
    FUZZ_CHECK(g_socket.ranDry || out.waitedUs >= int64_t{kTimeoutMs} * 1000);
    FUZZ_CHECK(out.answered == 0 && reply.Status == kIpRequestTimedOut && reply.Address == target);
    return 0;
  }

  // The reply is made from the first answer that is about us.
  const Arrival& a = *g_socket.accepted;
  const std::vector<uint8_t>& b = a.bytes;
  if (a.queue == Queue::Error) {
    if (a.origin == (g_socket.v6 ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP)) {
      // A router's error: an answer, from the router.
      FUZZ_CHECK(out.answered == 1 && reply.Address == AddressOf(a.from));
      FUZZ_CHECK(reply.Status == (g_socket.v6 ? IpStatusFromIcmp6(a.type, a.code)
                                              : IpStatusFromIcmp(a.type, a.code)));
    } else {
      // Our own stack refused the request: no answer, the target's address.
      FUZZ_CHECK(out.answered == 0 && reply.Address == target);
      FUZZ_CHECK(reply.Status == IpStatusFromErrno(a.error));
    }
    return 0;
  }
  FUZZ_CHECK(out.answered == 1);
  const std::size_t icmp = IcmpOffset(b, raw);
  const IpAddress source = raw && !g_socket.v6 ? IpAddress::V4(LoadAddress(&b[12])) : AddressOf(a.from);
  FUZZ_CHECK(reply.Address == source);
  if (b[icmp] == (g_socket.v6 ? ICMP6_ECHO_REPLY : 0)) {
    FUZZ_CHECK(reply.Status == kIpSuccess);
  } else {
    // Raw socket: an error message about our request, quoted inside it.
    FUZZ_CHECK(raw);
    FUZZ_CHECK(reply.Status == (g_socket.v6 ? IpStatusFromIcmp6(b[icmp], b[icmp + 1])
                                            : IpStatusFromIcmp(b[icmp], b[icmp + 1])) &&
               reply.Status != kIpSuccess);
  }
  return 0;
}
