#pragma once

#include <cstdint>
#include <string>

namespace sentrel {

// IPv4 addresses are uint32 in network byte order; all ones doubles as the
// mark for "no address". Every function here is safe to call from many
// threads at once; the lookups block (system resolver).
inline constexpr uint32_t kNoAddress = 0xFFFFFFFFu;

// The address that a dotted text stands for, with inet_addr's rules (forms
// a.b.c.d, a.b.c, a.b and a; octal and hex parts); kNoAddress for any other
// text, "255.255.255.255" included. No lookup.
uint32_t DottedToAddress(const std::string& text);

// A dotted address (inet_addr forms: a.b.c.d, a.b.c, a.b, a; octal and hex
// parts), else the first IPv4 address of the name. Empty text, a failed
// lookup and "255.255.255.255" itself all give kNoAddress.
uint32_t ResolveAddress(const std::string& text);

// "127.0.0.1" for the loopback address.
std::string AddressToDotted(uint32_t address);

// The name that the reverse lookup finds, else AddressToDotted(address).
std::string AddressToName(uint32_t address);

// True for exactly four dot-separated decimal parts of 0 to 255 each
// (leading zeros read as decimal: "010" is 10).
bool IsDottedQuad(const std::string& text);

}  // namespace sentrel
