#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/ip_address.h"

namespace sentrel {

// IPv4 addresses are uint32 in network byte order; the IPv4 all-ones
// address doubles as the mark for "no address", for both families. Every
// function here is safe to call from many threads at once; the lookups
// block (system resolver).
inline constexpr uint32_t kNoAddress = 0xFFFFFFFFu;

// Which family a host's name resolves to; stored with the host.
enum class AddressFamily : int32_t {
  Automatic = 0,  // IPv4 first, IPv6 when the name has no IPv4 address
  IPv4 = 4,
  IPv6 = 6,
};

// The no-address mark as an address, and the test for it.
IpAddress NoAddress();
bool IsNoAddress(const IpAddress& address);

// The family of a stored number; anything unknown is Automatic.
AddressFamily AddressFamilyOf(int32_t stored);

// An address written out: IPv4 in the resolver's forms (four decimal parts
// read as decimal, see ParseIpv4Text), or IPv6 with an optional zone after
// "%" (an interface name or index). nullopt for any other text; no lookup.
// A zone naming no interface here leaves the address without a zone. An
// IPv4-mapped IPv6 address (::ffff:a.b.c.d) gives the IPv4 address.
std::optional<IpAddress> ParseAddress(const std::string& text);

// A written address (an address decides its own family), else the first
// address of the name in `family`. Empty text, a failed lookup and
// "255.255.255.255" itself all give the no-address mark.
IpAddress ResolveAddress(const std::string& text,
                         AddressFamily family = AddressFamily::Automatic);

// "127.0.0.1" for the IPv4 loopback address.
std::string AddressToDotted(uint32_t address);

// The text of an address as the list, the log and the files show it: a
// dotted quad, or RFC 5952 text with "%zone" (the interface's name).
std::string AddressText(const IpAddress& address);

// The name that the reverse lookup finds, else AddressText(address).
std::string AddressToName(const IpAddress& address);

// True for exactly four dot-separated decimal parts of 0 to 255 each
// (leading zeros read as decimal: "010" is 10).
bool IsDottedQuad(const std::string& text);

// The address checks of the dialogs and the command line: a dotted quad or
// an IPv6 address (with an optional zone of letters, digits, "-", "_", ".").
bool IsAddressLiteral(const std::string& text);

}  // namespace sentrel
