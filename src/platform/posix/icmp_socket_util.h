#pragma once

#include <cstdint>

// Helpers that the ICMP sockets of this folder share.
namespace sentrel::posix {

// Attaches a socket filter to a raw ICMP socket that passes only echo replies
// carrying `identifier` and ICMP errors quoting a request with it, so the
// replies of other probes never fill this socket's queue. `identifier` is the
// 16-bit value as read in network byte order at the echo identifier offset.
// False when the kernel refuses the filter (the receive checks still hold).
bool AttachIdentifierFilter(int fd, uint16_t identifier);

// Passes only the ICMP types an echo request can be answered with.
bool SetIcmpTypeFilter(int fd);

// The same two for a raw ICMPv6 socket, whose packets start at the ICMPv6
// header.
bool AttachIdentifier6Filter(int fd, uint16_t identifier);
bool SetIcmp6TypeFilter(int fd);

}  // namespace sentrel::posix
