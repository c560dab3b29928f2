#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "common/ip_address.h"

namespace sentrel {

// IP status codes of an echo request, numbered as the Windows ICMP library
// numbers them: callers store, compare and show these values.
inline constexpr uint32_t kIpSuccess = 0;
inline constexpr uint32_t kIpBufferTooSmall = 11001;
inline constexpr uint32_t kIpDestNetUnreachable = 11002;
inline constexpr uint32_t kIpDestHostUnreachable = 11003;
inline constexpr uint32_t kIpDestProtocolUnreachable = 11004;
inline constexpr uint32_t kIpDestPortUnreachable = 11005;
inline constexpr uint32_t kIpPacketTooBig = 11009;
inline constexpr uint32_t kIpRequestTimedOut = 11010;
inline constexpr uint32_t kIpBadRoute = 11012;
inline constexpr uint32_t kIpTtlExpiredTransit = 11013;
inline constexpr uint32_t kIpTtlExpiredReassembly = 11014;
inline constexpr uint32_t kIpParameterProblem = 11015;
inline constexpr uint32_t kIpSourceQuench = 11016;
inline constexpr uint32_t kIpGeneralFailure = 11050;

// Status for an ICMP error message of the given type and code. Types that are
// not errors (or unknown codes of a known type) give the nearest general code.
uint32_t IpStatusFromIcmp(uint8_t type, uint8_t code);
// Status for an ICMPv6 error message of the given type and code, on the
// codes above; the table stands beside the code.
uint32_t IpStatusFromIcmp6(uint8_t type, uint8_t code);
// Status for a local socket error (errno) while sending or receiving.
uint32_t IpStatusFromErrno(int error);

// RFC 1071 Internet checksum, words read high byte first; an odd trailing
// byte counts as a final word padded with zero. Store the result high byte
// first (network byte order).
uint16_t InternetChecksum(std::span<const uint8_t> bytes);

struct IcmpEchoOptions {
  uint8_t Ttl = 255;
  uint8_t Tos = 0;
};

// The one reply record of an echo request.
struct IcmpEchoReply {
  uint32_t Address = 0;        // network byte order: who answered
  uint32_t Status = kIpGeneralFailure;
  uint32_t RoundTripTime = 0;  // whole milliseconds
  // The same round trip in microseconds, for measurements finer than the
  // record's whole milliseconds (each rounded on its own, so a 300 us trip
  // reads 0 ms and 300 us); 0 without an answer.
  uint32_t RoundTripMicroseconds = 0;
  // The TTL the answer arrived with; -1 when the system does not tell.
  int32_t Ttl = -1;
};

// The one reply record of an IPv6 echo request.
struct Icmp6EchoReply {
  IpAddress Address;  // IPv6: who answered
  uint32_t Status = kIpGeneralFailure;
  uint32_t RoundTripTime = 0;
  uint32_t RoundTripMicroseconds = 0;
  int32_t Ttl = -1;  // the hop limit the answer arrived with
};

// One echo channel (a handle of the library). Not thread-safe: one request at
// a time per channel; separate channels may be used from any threads at once,
// and never see each other's replies.
class IcmpChannel {
 public:
  virtual ~IcmpChannel() = default;

  // Sends one echo request with `data` to `address` (network byte order) and
  // blocks until its reply, an ICMP error about it, or `timeoutMs`.
  // Returns 1 with `reply` filled when an answer came (an error answered by a
  // router is an answer: Address = the router, Status = its code). Returns 0
  // when nothing came in time (Status 11010) or the request could not be sent
  // (Status from the local error, Address = the target).
  virtual int SendEcho(uint32_t address, std::span<const uint8_t> data,
                       const IcmpEchoOptions& options, IcmpEchoReply& reply, int timeoutMs) = 0;

  // SendEcho to an IPv6 `address` (a link-local one names its interface by
  // its zone), with hop limit options.Ttl and traffic class options.Tos; the
  // same results, ICMPv6 errors given the status codes of IpStatusFromIcmp6.
  // A library without IPv6 returns 0 with status 11050.
  virtual int SendEcho6(const IpAddress& address, std::span<const uint8_t> data,
                        const IcmpEchoOptions& options, Icmp6EchoReply& reply, int timeoutMs) {
    (void)data, (void)options, (void)timeoutMs;
    reply = Icmp6EchoReply{address, kIpGeneralFailure, 0, 0};
    return 0;
  }

  // Makes the SendEcho in progress (or, when none is, the next one) stop
  // waiting and return 0 with status 11010 at once. The only call that may
  // come from another thread; used to end a worker without waiting out its
  // time-out.
  virtual void Interrupt() {}
};

// The loaded echo library.
class IcmpLibrary {
 public:
  virtual ~IcmpLibrary() = default;
  // A new channel, or nullptr when the system refuses one. Safe to call from
  // any thread; the channel's requests (of both families) go out in the
  // calling thread's network namespace. The system's library shares one socket per socket
  // kind and namespace among all its channels, so a channel costs no
  // descriptor of its own.
  virtual std::unique_ptr<IcmpChannel> CreateChannel() = 0;
};

enum class IcmpSocketKind {
  Datagram,  // SOCK_DGRAM/IPPROTO_ICMP: unprivileged where ping_group_range allows
  Raw,       // SOCK_RAW: root or CAP_NET_RAW
};

// Loads the library: a datagram ICMP socket where the system allows one,
// otherwise a raw one. nullptr ("library missing") when neither can be made.
std::shared_ptr<IcmpLibrary> LoadIcmpLibrary();
// Loads the library on one socket kind only; nullptr when it cannot be made.
std::shared_ptr<IcmpLibrary> LoadIcmpLibrary(IcmpSocketKind kind);

// Sizes of the library's sockets. The defaults suit the program; tests make
// the receive buffer small to see that an overflow loses no answer.
struct IcmpLibraryTuning {
  int receiveBufferBytes = 0;  // 0: the library's own size
};
// As above, with sockets of their own sized by `tuning`.
std::shared_ptr<IcmpLibrary> LoadIcmpLibrary(IcmpSocketKind kind, IcmpLibraryTuning tuning);

// How the program loads the library; tests inject their own to make it
// missing or fake.
using IcmpLibraryLoader = std::function<std::shared_ptr<IcmpLibrary>()>;

// Identifiers for the ICMP requests of this process that the program numbers
// itself (raw sockets). Each identifier is held by one owner until released,
// so two probes of the process never share one. Thread-safe. Returns false
// only when all 65536 are taken.
bool AcquireIcmpIdentifier(uint16_t& identifier);
void ReleaseIcmpIdentifier(uint16_t identifier);

}  // namespace sentrel
