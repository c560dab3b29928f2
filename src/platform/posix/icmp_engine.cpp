#include "platform/posix/icmp_engine.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/posix/icmp_socket_util.h"
#include "platform/socket_address.h"
#include "platform/wake_word.h"

namespace sentrel::posix {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Sends of one request: the first, and those that overflows of the receive
// buffer ask for (each round gets at least a buffer's worth through).
constexpr int kMaxSends = 8;
// Messages read per receive call; only headers are read, so a datagram
// longer than a slot is cut, which is fine.
constexpr int kBatch = 16;
constexpr size_t kSlotBytes = 192;   // outer IP header, ICMP header, quoted IP header, 8 bytes
constexpr size_t kControlBytes = 128;
// A receive buffer that holds a burst of a few thousand replies at once.
constexpr int kReceiveBuffer = 4 << 20;
constexpr int kSendBuffer = 1 << 20;
// Receive calls of one drain; what is left is read by the next.
constexpr int kDrainRounds = 64;
// A datagram socket reports an ICMP error that came for any request once,
// to the next call: a send may fail with another request's error.
constexpr int kStaleErrorRetries = 3;

int64_t RealtimeNs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// Sets a buffer size as large as allowed: over the system's limit where the
// process may (root), else up to it.
void SetBuffer(int fd, int force, int plain, int bytes) {
  if (setsockopt(fd, SOL_SOCKET, force, &bytes, sizeof bytes) != 0)
    setsockopt(fd, SOL_SOCKET, plain, &bytes, sizeof bytes);
}

// The kernel's receive time of a message (wall clock), 0 when it has none.
int64_t ReceiveStamp(msghdr& message) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_TIMESTAMPNS) {
      timespec stamp{};
      std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      return int64_t{stamp.tv_sec} * 1'000'000'000 + stamp.tv_nsec;
    }
  }
  return 0;
}

// The TTL (hop limit) an answer arrived with, -1 when the kernel did not say.
int ReceiveTtl(msghdr& message) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if ((c->cmsg_level == SOL_IP && c->cmsg_type == IP_TTL) ||
        (c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_HOPLIMIT)) {
      int ttl = -1;
      std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
      return ttl;
    }
  }
  return -1;
}

// A message header for one buffer, the peer's address and room for control
// messages.
msghdr Header(sockaddr_storage* peer, iovec* io, void* control, size_t controlSize) {
  msghdr header{};
  header.msg_name = peer;
  header.msg_namelen = sizeof *peer;
  header.msg_iov = io;
  header.msg_iovlen = 1;
  header.msg_control = control;
  header.msg_controllen = controlSize;
  return header;
}

}  // namespace

// One request in flight, on the stack of the caller's Echo.
struct EchoWaiter {
  IcmpEngine::Caller* caller = nullptr;
  IpAddress target;
  int ttl = 255;
  int tos = 0;
  // Every sequence the request went out with, and when.
  std::array<uint16_t, kMaxSends> sequences{};
  std::array<int64_t, kMaxSends> sentRealtimeNs{};
  std::array<SteadyClock::time_point, kMaxSends> sentSteady{};
  // Under the engine's mutex from here on (`sends` is changed only by the
  // caller's thread, which also reads it without). Each send's sequence is
  // in the engine's table from its Register until the Unregister.
  int sends = 0;
  bool answered = false;
  bool resend = false;     // the receive buffer overflowed: send once more
  bool queued = false;     // in line for a resend
  bool holdsSlot = false;  // one of the resends the buffer has room for
  bool sleeping = false;   // on `wake`
  bool localError = false;  // the answer is our own stack's refusal
  uint32_t status = kIpGeneralFailure;
  IpAddress from;
  int answeredSend = 0;    // which send the answer names
  int64_t stampNs = 0;
  int replyTtl = -1;
  SteadyClock::time_point answeredAt;
  WakeWord wake;
  EchoWaiter* prev = nullptr;
  EchoWaiter* next = nullptr;
};

// Room for one receive call: a few kilobytes that the engine keeps, rather
// than every one of a thousand worker stacks.
struct ReceiveSlots {
  struct alignas(cmsghdr) Control {
    uint8_t bytes[kControlBytes];
  };
  std::array<std::array<uint8_t, kSlotBytes>, kBatch> data;
  std::array<Control, kBatch> control;
  std::array<sockaddr_storage, kBatch> from;
  std::array<iovec, kBatch> io;
  std::array<mmsghdr, kBatch> headers;
};

IcmpEngine::IcmpEngine(IcmpSocketKind kind, bool ipv6, int fd, int wakeFd)
    : kind_(kind),
      ipv6_(ipv6),
      fd_(fd),
      wakeFd_(wakeFd),
      slots_(std::make_unique<ReceiveSlots>()),
      bySequence_(65536, nullptr) {}

IcmpEngine::~IcmpEngine() {
  close(fd_);
  close(wakeFd_);
  if (pooledIdentifier_) ReleaseIcmpIdentifier(identifier_);
}

std::shared_ptr<IcmpEngine> IcmpEngine::Open(IcmpSocketKind kind, bool ipv6,
                                             int receiveBufferBytes) {
  const int type = kind == IcmpSocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW;
  const int fd = ipv6 ? socket(AF_INET6, type | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMPV6)
                      : socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) return nullptr;
  const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd < 0) {
    close(fd);
    return nullptr;
  }
  std::shared_ptr<IcmpEngine> engine(new IcmpEngine(kind, ipv6, fd, wakeFd));
  if (!engine->Prepare(receiveBufferBytes)) return nullptr;
  return engine;
}

bool IcmpEngine::Prepare(int receiveBufferBytes) {
  const int on = 1;
  if (setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0) return false;
  // The answer's TTL is only shown, never needed: a refusal changes nothing.
  if (ipv6_) {
    setsockopt(fd_, SOL_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on);
  } else {
    setsockopt(fd_, SOL_IP, IP_RECVTTL, &on, sizeof on);
  }
  SetBuffer(fd_, SO_RCVBUFFORCE, SO_RCVBUF,
            receiveBufferBytes > 0 ? receiveBufferBytes : kReceiveBuffer);
  SetBuffer(fd_, SO_SNDBUFFORCE, SO_SNDBUF, kSendBuffer);
  if (kind_ == IcmpSocketKind::Datagram) {
    // The kernel owns the identifier (the socket's port) and delivers only
    // the replies that carry it; errors come through the error queue.
    SocketAddress self = ToSocketAddress(ipv6_ ? IpAddress::V6({}) : IpAddress::V4(0));
    socklen_t length = sizeof self.storage;
    auto* address = reinterpret_cast<sockaddr*>(&self.storage);
    if (bind(fd_, address, self.length) != 0 || getsockname(fd_, address, &length) != 0 ||
        (ipv6_ ? setsockopt(fd_, SOL_IPV6, IPV6_RECVERR, &on, sizeof on)
               : setsockopt(fd_, SOL_IP, IP_RECVERR, &on, sizeof on)) != 0)
      return false;
    // The port stands at the same place in both families' records.
    sockaddr_in port{};
    std::memcpy(&port, &self.storage, sizeof port);
    identifier_ = ntohs(port.sin_port);
    return true;
  }
  if (!AcquireIcmpIdentifier(identifier_)) return false;
  pooledIdentifier_ = true;
  // Only answers that name our identifier reach the queue: other programs'
  // pings in the namespace cost the kernel a filter run, not us a read.
  if (ipv6_) {
    SetIcmp6TypeFilter(fd_);
    AttachIdentifier6Filter(fd_, identifier_);
  } else {
    SetIcmpTypeFilter(fd_);
    AttachIdentifierFilter(fd_, identifier_);
  }
  return true;
}

int IcmpEngine::Echo(Caller& caller, const IpAddress& address, std::span<const uint8_t> data,
                     const IcmpEchoOptions& options, Icmp6EchoReply& reply, int timeoutMs) {
  reply = Icmp6EchoReply{address, kIpGeneralFailure, 0, 0};
  Waiter waiter;
  waiter.caller = &caller;
  waiter.target = address;
  waiter.ttl = options.Ttl;
  waiter.tos = options.Tos;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  if (!SendNumbered(waiter, data, deadline)) {
    reply.Status = waiter.status;
    return 0;
  }
  // On loopback the answer is queued before the send returns: take it now,
  // without a wake-up on either side.
  Drain(false);
  return Await(waiter, data, deadline, reply);
}

bool IcmpEngine::SendNumbered(Waiter& waiter, std::span<const uint8_t> data,
                              SteadyClock::time_point deadline) {
  const int n = waiter.sends;  // changed only by this thread, under mutex_
  {
    std::lock_guard lock(mutex_);
    if (!Register(waiter)) {
      if (n == 0) waiter.status = kIpGeneralFailure;  // 65536 requests in flight
      return false;
    }
    if (n == 0) waiter.caller->active = &waiter;
    waiter.sends = n + 1;
  }
  const uint16_t sequence = waiter.sequences[static_cast<size_t>(n)];
  if (ipv6_)
    BuildEcho6Message(waiter.caller->message, identifier_, sequence, data);
  else
    BuildEchoMessage(waiter.caller->message, identifier_, sequence, data);
  const int error = Send(waiter, waiter.caller->message, deadline);
  if (error == 0) return true;
  // A resend that fails leaves the earlier sends waiting for their answer.
  if (n == 0) {
    std::lock_guard lock(mutex_);
    waiter.status = IpStatusFromErrno(error);
    Unregister(waiter);
    waiter.caller->active = nullptr;
  }
  return false;
}

int IcmpEngine::Send(Waiter& waiter, std::span<const uint8_t> message,
                     SteadyClock::time_point deadline) {
  SocketAddress to = ToSocketAddress(waiter.target);
  iovec io{const_cast<uint8_t*>(message.data()), message.size()};
  // TTL and TOS (hop limit and traffic class) travel with each request: the
  // socket is everybody's.
  alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(int)) * 2] = {};
  msghdr header = Header(&to.storage, &io, control, sizeof control);
  header.msg_namelen = to.length;
  cmsghdr* c = CMSG_FIRSTHDR(&header);
  const int level = ipv6_ ? IPPROTO_IPV6 : IPPROTO_IP;
  const auto options = ipv6_ ? std::array{std::pair{IPV6_HOPLIMIT, waiter.ttl},
                                          std::pair{IPV6_TCLASS, waiter.tos}}
                             : std::array{std::pair{IP_TTL, waiter.ttl}, std::pair{IP_TOS, waiter.tos}};
  for (auto [option, value] : options) {
    c->cmsg_level = level;
    c->cmsg_type = option;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &value, sizeof value);
    c = CMSG_NXTHDR(&header, c);
  }
  const size_t n = static_cast<size_t>(waiter.sends - 1);
  int staleRetries = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    waiter.sentRealtimeNs[n] = RealtimeNs();
    waiter.sentSteady[n] = SteadyClock::now();
    if (sendmsg(fd_, &header, MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) return 0;
    const int error = errno;
    if (error == EINTR) continue;
    if (error == EAGAIN || error == ENOBUFS) {
      // The send buffer is full: wait for room, within the time-out.
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
      if (left.count() <= 0) return error;
      pollfd p{fd_, POLLOUT, 0};
      poll(&p, 1, static_cast<int>(std::min<long>(left.count(), 10)));
      continue;
    }
    // TTL 0 and other refused values are never another request's error.
    if (kind_ == IcmpSocketKind::Datagram && error != EINVAL && staleRetries++ < kStaleErrorRetries) {
      errorsQueued_ = true;
      continue;
    }
    return error;
  }
  return EAGAIN;
}

int IcmpEngine::Await(Waiter& waiter, std::span<const uint8_t> data,
                      SteadyClock::time_point deadline, Icmp6EchoReply& reply) {
  std::unique_lock lock(mutex_);
  bool interrupted = false;
  for (;;) {
    // An interrupt wins over an answer that came meanwhile, and is used up
    // by this request either way.
    if (waiter.caller->interrupt) {
      waiter.caller->interrupt = false;
      interrupted = true;
      break;
    }
    if (waiter.answered) break;
    const auto now = SteadyClock::now();
    if (now >= deadline) {
      waiter.status = kIpRequestTimedOut;
      break;
    }
    if (waiter.resend) {
      waiter.resend = false;
      if (waiter.sends < kMaxSends) {
        lock.unlock();
        SendNumbered(waiter, data, deadline);
        Drain(false);
        lock.lock();
      }
      continue;
    }
    if (reader_ == nullptr) reader_ = &waiter;
    if (reader_ == &waiter) {
      lock.unlock();
      ReadUntil(waiter, deadline);
      lock.lock();
      continue;
    }
    const uint32_t seen = waiter.wake.Value();
    waiter.sleeping = true;
    lock.unlock();
    waiter.wake.WaitUntil(seen, deadline);
    lock.lock();
    waiter.sleeping = false;
  }
  if (reader_ == &waiter) PassReading(waiter);
  Unregister(waiter);
  waiter.caller->active = nullptr;
  lock.unlock();

  if (interrupted) {
    reply.Status = kIpRequestTimedOut;
    return 0;
  }
  if (!waiter.answered || waiter.localError) {
    reply.Status = waiter.status;
    if (waiter.answered) reply.Address = waiter.from;
    return 0;
  }
  // The kernel's receive stamp leaves out the time until somebody read the
  // answer; it is taken only when it agrees with the monotonic clock, so a
  // step of the wall clock cannot give a wrong figure.
  const size_t n = static_cast<size_t>(waiter.answeredSend);
  const int64_t steadyNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               waiter.answeredAt - waiter.sentSteady[n]).count();
  int64_t ns = steadyNs;
  if (waiter.stampNs != 0) {
    const int64_t kernelNs = waiter.stampNs - waiter.sentRealtimeNs[n];
    if (kernelNs >= 0 && kernelNs <= steadyNs + 1'000'000) ns = kernelNs;
  }
  ns = std::max<int64_t>(ns, 0);
  reply.Address = waiter.from;
  reply.Status = waiter.status;
  reply.RoundTripTime = static_cast<uint32_t>((ns + 500'000) / 1'000'000);
  reply.RoundTripMicroseconds = static_cast<uint32_t>((ns + 500) / 1'000);
  reply.Ttl = waiter.replyTtl;
  return 1;
}

void IcmpEngine::ReadUntil(Waiter& waiter, SteadyClock::time_point deadline) {
  for (;;) {
    Drain(true);
    {
      std::lock_guard lock(mutex_);
      if (waiter.answered || waiter.caller->interrupt || waiter.resend) return;
    }
    const auto left = deadline - SteadyClock::now();
    if (left <= SteadyClock::duration::zero()) return;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    const timespec wait{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    pollfd p[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int n = ppoll(p, 2, &wait, nullptr);
    if (n < 0 && errno != EINTR) return;  // the caller's time-out still holds
    if (n > 0 && p[1].revents != 0) {
      uint64_t count = 0;
      (void)!read(wakeFd_, &count, sizeof count);
    }
    if (n > 0 && (p[0].revents & POLLERR) != 0) errorsQueued_ = true;
  }
}

void IcmpEngine::Drain(bool reader) {
  // One caller reads at a time. A sender that finds another one reading
  // leaves its answer to it, or to the reader whose socket wait the answer
  // ends: it only looks for its own answer here to spare both a wake-up.
  std::unique_lock drain(drainMutex_, std::defer_lock);
  if (reader) drain.lock();
  else if (!drain.try_lock()) return;
  auto& [data, control, from, io, headers] = *slots_;
  int read = 0;
  for (int round = 0; round < kDrainRounds; ++round) {
    for (size_t i = 0; i < kBatch; ++i) {
      io[i] = {data[i].data(), data[i].size()};
      headers[i] = {Header(&from[i], &io[i], control[i].bytes, kControlBytes), 0};
    }
    const int n = recvmmsg(fd_, headers.data(), kBatch, MSG_DONTWAIT, nullptr);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      // A datagram socket reports a queued ICMP error this way once; the
      // answers behind it are read on the next call.
      errorsQueued_ = true;
      continue;
    }
    {
      std::lock_guard lock(mutex_);
      for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
        const std::span<const uint8_t> bytes(data[i].data(),
                                             std::min<size_t>(headers[i].msg_len, kSlotBytes));
        if (const auto answer = Parse(bytes, from[i]))
          Deliver(*answer, ReceiveStamp(headers[i].msg_hdr), false, ReceiveTtl(headers[i].msg_hdr));
      }
    }
    read += n;
    if (n < kBatch) break;
  }
  // Only a queue that grew can have overflowed: one that a sender found
  // deep, or one that the reader found anything in (its waits are rare
  // beside the requests that read their own answer at once).
  if (read >= kBatch || (reader && read > 0)) CheckDrops();
  if (kind_ == IcmpSocketKind::Datagram && errorsQueued_.exchange(false)) DrainErrors();
}

std::optional<IcmpAnswer> IcmpEngine::Parse(std::span<const uint8_t> bytes,
                                            const sockaddr_storage& from) const {
  const auto sender =
      FromSocketAddress(reinterpret_cast<const sockaddr*>(&from), sizeof from);
  if (ipv6_) {
    if (!sender) return std::nullopt;
    auto answer = ParseIcmp6(bytes, *sender);
    // A datagram socket's errors come through the error queue only.
    if (answer && kind_ == IcmpSocketKind::Datagram && answer->status != kIpSuccess)
      return std::nullopt;
    return answer;
  }
  if (kind_ == IcmpSocketKind::Raw) return ParseRawIcmp(bytes);
  return sender ? ParseDatagramReply(bytes, sender->V4Value()) : std::nullopt;
}

std::optional<IcmpAnswer> IcmpEngine::ParseQueuedError(msghdr& message,
                                                       std::span<const uint8_t> request,
                                                       const sockaddr_storage& target,
                                                       bool& local) const {
  // The data is our own request as it left (identifier and sequence).
  if (request.size() < 8) return std::nullopt;
  const int level = ipv6_ ? SOL_IPV6 : SOL_IP;
  const int type = ipv6_ ? IPV6_RECVERR : IP_RECVERR;
  const sock_extended_err* error = nullptr;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == level && c->cmsg_type == type)
      error = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
  }
  const auto to = FromSocketAddress(reinterpret_cast<const sockaddr*>(&target), sizeof target);
  if (error == nullptr || !to) return std::nullopt;
  IcmpAnswer answer;
  answer.identifier = static_cast<uint16_t>(request[4] << 8 | request[5]);
  answer.sequence = static_cast<uint16_t>(request[6] << 8 | request[7]);
  answer.quotedTarget = *to;
  const uint8_t icmpOrigin = ipv6_ ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP;
  local = error->ee_origin != icmpOrigin;
  if (local) {
    // Our own stack refused the request (e.g. too big for the route): it
    // was not made.
    answer.from = *to;
    answer.status = IpStatusFromErrno(static_cast<int>(error->ee_errno));
    return answer;
  }
  sockaddr_storage offender{};
  std::memcpy(&offender, SO_EE_OFFENDER(error),
              ipv6_ ? sizeof(sockaddr_in6) : sizeof(sockaddr_in));
  answer.from = FromSocketAddress(reinterpret_cast<const sockaddr*>(&offender), sizeof offender)
                    .value_or(*to);
  answer.status = ipv6_ ? IpStatusFromIcmp6(error->ee_type, error->ee_code)
                        : IpStatusFromIcmp(error->ee_type, error->ee_code);
  return answer;
}

void IcmpEngine::DrainErrors() {
  for (int i = 0; i < kBatch * kDrainRounds; ++i) {
    uint8_t data[kSlotBytes];
    alignas(cmsghdr) uint8_t control[kControlBytes];
    sockaddr_storage target{};
    iovec io{data, sizeof data};
    msghdr message = Header(&target, &io, control, sizeof control);
    const ssize_t n = recvmsg(fd_, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    bool local = false;
    const auto answer =
        ParseQueuedError(message, std::span(data, static_cast<size_t>(n)), target, local);
    if (!answer) continue;
    const int64_t stamp = ReceiveStamp(message);
    std::lock_guard lock(mutex_);
    Deliver(*answer, stamp, local, -1);
  }
}

void IcmpEngine::Deliver(const IcmpAnswer& answer, int64_t stampNs, bool localError, int ttl) {
  if (answer.identifier != identifier_) return;
  Waiter* waiter = bySequence_[answer.sequence];
  // A late answer to a request already over, or a second copy, is dropped.
  if (waiter == nullptr || waiter->answered) return;
  if (answer.quotedTarget && !answer.quotedTarget->SameHost(waiter->target)) return;
  int send = 0;
  while (send < waiter->sends &&
         waiter->sequences[static_cast<size_t>(send)] != answer.sequence)
    ++send;
  waiter->answered = true;
  waiter->localError = localError;
  waiter->status = answer.status;
  waiter->from = answer.from;
  waiter->answeredSend = std::min(send, waiter->sends - 1);
  waiter->stampNs = stampNs;
  waiter->replyTtl = ttl;
  waiter->answeredAt = SteadyClock::now();
  ReleaseSlot(*waiter);
  Alert(*waiter);
}

void IcmpEngine::CheckDrops() {
  uint32_t info[SK_MEMINFO_VARS] = {};
  socklen_t length = sizeof info;
  if (getsockopt(fd_, SOL_SOCKET, SO_MEMINFO, info, &length) != 0 ||
      length <= SK_MEMINFO_DROPS * sizeof info[0])
    return;
  std::lock_guard lock(mutex_);
  if (info[SK_MEMINFO_DROPS] == drops_) return;
  drops_ = info[SK_MEMINFO_DROPS];
  // About as many answers as the buffer holds (a reply takes up to 2 KiB of
  // it with the kernel's bookkeeping) may be on their way at once; sent all
  // together, the resends would come back as the same burst.
  resendWindow_ = std::max<int>(1, static_cast<int>(info[SK_MEMINFO_RCVBUF] / 2048));
  // The socket dropped answers; whose is unknown, so every request still
  // waiting goes out once more, a window at a time.
  for (Waiter* w = waiters_; w != nullptr; w = w->next) {
    if (w->answered || w->sends >= kMaxSends) continue;
    if (w->holdsSlot) {
      w->resend = true;
      Alert(*w);
    } else if (!w->queued) {
      w->queued = true;
      resendLine_.push_back(w);
    }
  }
  GrantResends();
}

void IcmpEngine::GrantResends() {
  while (resendsInFlight_ < resendWindow_ && !resendLine_.empty()) {
    Waiter* w = resendLine_.front();
    resendLine_.pop_front();
    w->queued = false;
    w->holdsSlot = true;
    w->resend = true;
    ++resendsInFlight_;
    Alert(*w);
  }
}

void IcmpEngine::ReleaseSlot(Waiter& waiter) {
  if (waiter.queued) {
    resendLine_.erase(std::find(resendLine_.begin(), resendLine_.end(), &waiter));
    waiter.queued = false;
  }
  if (!waiter.holdsSlot) return;
  waiter.holdsSlot = false;
  --resendsInFlight_;
  GrantResends();
}

void IcmpEngine::Interrupt(Caller& caller) {
  std::lock_guard lock(mutex_);
  caller.interrupt = true;
  if (caller.active != nullptr) Alert(*caller.active);
}

bool IcmpEngine::Register(Waiter& waiter) {
  for (uint32_t tries = 0; tries < 65536; ++tries) {
    const uint16_t sequence = nextSequence_++;
    if (bySequence_[sequence] != nullptr) continue;
    bySequence_[sequence] = &waiter;
    waiter.sequences[static_cast<size_t>(waiter.sends)] = sequence;
    if (waiter.sends == 0) {
      waiter.next = waiters_;
      if (waiters_ != nullptr) waiters_->prev = &waiter;
      waiters_ = &waiter;
    }
    return true;
  }
  return false;
}

void IcmpEngine::Unregister(Waiter& waiter) {
  ReleaseSlot(waiter);
  for (int i = 0; i < waiter.sends; ++i) bySequence_[waiter.sequences[static_cast<size_t>(i)]] = nullptr;
  if (waiter.sends == 0) return;
  if (waiter.prev != nullptr) waiter.prev->next = waiter.next;
  else waiters_ = waiter.next;
  if (waiter.next != nullptr) waiter.next->prev = waiter.prev;
  waiter.prev = waiter.next = nullptr;
}

void IcmpEngine::PassReading(const Waiter& leaving) {
  reader_ = nullptr;
  // Someone must read while anyone waits: the next one in line takes over.
  for (Waiter* w = waiters_; w != nullptr; w = w->next) {
    if (w == &leaving || w->answered) continue;
    reader_ = w;
    Alert(*w);
    return;
  }
}

void IcmpEngine::Alert(Waiter& waiter) {
  waiter.wake.Bump();
  if (waiter.sleeping) {
    waiter.wake.Wake();
  } else if (&waiter == reader_) {
    // It may sit in the socket wait while another caller has read its
    // answer.
    const uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
  }
}

}  // namespace sentrel::posix
