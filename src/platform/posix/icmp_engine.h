#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include <sys/socket.h>

#include "platform/icmp_library.h"
#include "platform/posix/icmp_answer.h"

namespace sentrel::posix {

struct EchoWaiter;
struct ReceiveSlots;

// The echo requests of every channel of one socket kind and address family
// in one network namespace, over one socket. A raw socket gets a copy of every ICMP message
// of the namespace, so a socket per channel made the kernel copy each reply
// to every channel; one socket is copied to once.
//
// There is no reader thread. A caller that has sent its request first reads
// whatever is queued without waiting (on loopback its own reply is already
// there, so the common request costs one send and one receive and never
// sleeps). When its answer is not there yet, one of the waiting callers, the
// reader, blocks on the socket and sorts every answer to the request it
// belongs to (by identifier and sequence; errors through the request they
// quote), waking only that request's caller; the others sleep on a word of
// their own. When the reader's own answer comes, or it gives up, it hands
// the reading on to another waiting caller.
//
// Round trips run from just before the send to the kernel's receive stamp,
// so a caller woken late still reports the time on the wire.
//
// Every answer goes to the caller whose request it names. When the receive
// buffer overflowed all the same (the kernel counts what it drops; a queue
// that grew makes the engine look), every request still waiting is sent
// once more under a new sequence, as many at a time as the buffer holds
// answers (a few times at most, within its time-out); the first answer to
// any of a request's sequences counts.
class IcmpEngine {
 public:
  // What one channel keeps between its requests. Used by one thread at a
  // time, except for Interrupt.
  class Caller {
   private:
    friend class IcmpEngine;
    EchoWaiter* active = nullptr;  // under the engine's mutex
    bool interrupt = false;           // under the engine's mutex
    std::vector<uint8_t> message;     // the request being sent
  };

  // Opens an engine on a new socket (ICMPv6 with `ipv6`) in the calling
  // thread's namespace, with a receive buffer of `receiveBufferBytes` (0:
  // the engine's own size); nullptr when the system refuses the socket.
  static std::shared_ptr<IcmpEngine> Open(IcmpSocketKind kind, bool ipv6, int receiveBufferBytes);
  ~IcmpEngine();
  IcmpEngine(const IcmpEngine&) = delete;
  IcmpEngine& operator=(const IcmpEngine&) = delete;

  // IcmpChannel::SendEcho and SendEcho6 for the channel that `caller`
  // belongs to; `address` is of the engine's family. The IPv6 reply record
  // serves both families, its address being an IpAddress.
  int Echo(Caller& caller, const IpAddress& address, std::span<const uint8_t> data,
           const IcmpEchoOptions& options, Icmp6EchoReply& reply, int timeoutMs);
  // IcmpChannel::Interrupt; any thread.
  void Interrupt(Caller& caller);

 private:
  using SteadyClock = std::chrono::steady_clock;
  using Waiter = EchoWaiter;

  IcmpEngine(IcmpSocketKind kind, bool ipv6, int fd, int wakeFd);

  bool Prepare(int receiveBufferBytes);
  // Sends `message` (already numbered) with the request's options. 0 or
  // the errno of the failure.
  int Send(Waiter& waiter, std::span<const uint8_t> message, SteadyClock::time_point deadline);
  // Numbers a request and sends it; false when it could not be sent (its
  // status is in the waiter).
  bool SendNumbered(Waiter& waiter, std::span<const uint8_t> data,
                    SteadyClock::time_point deadline);
  // Waits for the request's answer, reading the socket while nobody else
  // does. Returns the SendEcho result.
  int Await(Waiter& waiter, std::span<const uint8_t> data, SteadyClock::time_point deadline,
            Icmp6EchoReply& reply);
  // Blocks on the socket as the reader until `waiter` is answered,
  // interrupted, asked to send again, or at `deadline`.
  void ReadUntil(Waiter& waiter, SteadyClock::time_point deadline);
  // Reads what is queued without waiting and hands it out; `reader` when
  // the reader does after its wait.
  void Drain(bool reader);
  void DrainErrors();
  // The answer in one received message, by socket kind and family.
  std::optional<IcmpAnswer> Parse(std::span<const uint8_t> bytes, const sockaddr_storage& from) const;
  // The ICMP error in an error-queue message, nullopt when it holds none.
  std::optional<IcmpAnswer> ParseQueuedError(msghdr& message, std::span<const uint8_t> request,
                                             const sockaddr_storage& target, bool& local) const;
  // With mutex_ held: hands one answer to its request.
  // `ttl`: the TTL (hop limit) the answer arrived with, -1 when unknown.
  void Deliver(const IcmpAnswer& answer, int64_t stampNs, bool localError, int ttl);
  // Asks the kernel how much the socket has dropped; after an overflow,
  // every request still waiting is sent again.
  void CheckDrops();
  // With mutex_ held: lets the next requests in line resend, as far as the
  // window allows; gives back a waiter's place in line or in the window.
  void GrantResends();
  void ReleaseSlot(Waiter& waiter);

  // With mutex_ held. Register numbers the request's next send (the caller
  // then counts it in `sends`); Unregister, once per request, frees every
  // number it had.
  bool Register(Waiter& waiter);
  void Unregister(Waiter& waiter);
  void PassReading(const Waiter& leaving);
  // Tells a waiting caller to look again: the reader through the socket
  // wait it sits in, any other on its wake word.
  void Alert(Waiter& waiter);

  const IcmpSocketKind kind_;
  const bool ipv6_;
  const int fd_;
  const int wakeFd_;  // wakes the reader's wait on the socket
  uint16_t identifier_ = 0;
  bool pooledIdentifier_ = false;
  // An ICMP error may wait in the error queue (datagram sockets).
  std::atomic<bool> errorsQueued_{false};

  std::mutex drainMutex_;  // held while reading the socket into slots_
  std::unique_ptr<ReceiveSlots> slots_;
  std::mutex mutex_;
  std::vector<Waiter*> bySequence_;  // 65536 entries
  uint16_t nextSequence_ = 0;
  Waiter* waiters_ = nullptr;  // every registered request, a list
  Waiter* reader_ = nullptr;   // the caller that reads, or has been asked to
  uint32_t drops_ = 0;
  std::deque<Waiter*> resendLine_;
  int resendsInFlight_ = 0;
  int resendWindow_ = 1;
};

}  // namespace sentrel::posix
