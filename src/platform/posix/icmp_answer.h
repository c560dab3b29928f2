#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/icmp_library.h"

// Reading and writing the ICMP messages of the echo engine's sockets.
namespace sentrel::posix {

// What one received ICMP message says about one of our echo requests.
struct IcmpAnswer {
  uint16_t identifier = 0;  // of the request it answers, read high byte first
  uint16_t sequence = 0;
  IpAddress from;           // who answered
  uint32_t status = kIpGeneralFailure;  // kIpSuccess for an echo reply
  // For an error, the destination of the request that it quotes (no zone).
  std::optional<IpAddress> quotedTarget;
};

// A datagram as a raw ICMP socket receives it, IP header first: an echo
// reply, or an ICMP error (unreachable, source quench, time exceeded,
// parameter problem) that quotes an echo request. Anything else, and
// anything too short to hold what is read, gives nullopt.
std::optional<IcmpAnswer> ParseRawIcmp(std::span<const uint8_t> datagram);

// A message of a datagram ICMP socket: ICMP without IP header, from `from`.
// Only echo replies come there.
std::optional<IcmpAnswer> ParseDatagramReply(std::span<const uint8_t> message, uint32_t from);

// An ICMPv6 message as both socket kinds receive it (no IP header), from
// `from`: an echo reply, or an error (destination unreachable, packet too
// big, time exceeded, parameter problem) that quotes an echo request.
// Anything else, and anything too short, gives nullopt.
std::optional<IcmpAnswer> ParseIcmp6(std::span<const uint8_t> message, const IpAddress& from);

// An echo request: type 8, code 0, checksum, identifier and sequence (high
// byte first), then `data`. Replaces what `into` held.
void BuildEchoMessage(std::vector<uint8_t>& into, uint16_t identifier, uint16_t sequence,
                      std::span<const uint8_t> data);
// The ICMPv6 echo request (type 128); its checksum, which covers the IPv6
// addresses, is left 0 for the kernel to fill in.
void BuildEcho6Message(std::vector<uint8_t>& into, uint16_t identifier, uint16_t sequence,
                       std::span<const uint8_t> data);

}  // namespace sentrel::posix
