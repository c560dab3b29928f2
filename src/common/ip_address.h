#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sentrel {

// An IPv4 or IPv6 address as one value. IPv4 is the program's uint32 in
// network byte order; IPv6 is its 16 bytes in network order and the zone of
// a scoped (link-local) address as an interface index, 0 for none.
class IpAddress {
 public:
  using Bytes = std::array<uint8_t, 16>;

  IpAddress() = default;  // IPv4 0.0.0.0
  static IpAddress V4(uint32_t networkOrder);
  static IpAddress V6(const Bytes& bytes, uint32_t zone = 0);

  bool IsV6() const { return v6_; }
  uint32_t V4Value() const { return v4_; }
  const Bytes& V6Bytes() const { return bytes_; }
  uint32_t Zone() const { return zone_; }
  // The same address, zones aside: what a packet names (a packet carries
  // no zone).
  bool SameHost(const IpAddress& other) const;

  bool operator==(const IpAddress&) const = default;

 private:
  bool v6_ = false;
  uint32_t v4_ = 0;
  Bytes bytes_{};
  uint32_t zone_ = 0;
};

// Exactly four decimal parts of 0 to 255 joined by "." (leading zeros
// allowed and read as decimal), as network-order uint32; else nullopt.
std::optional<uint32_t> ParseDecimalQuad(std::string_view text);

// The resolver's IPv4 forms (a.b.c.d, a.b.c, a.b, a; parts decimal or
// hexadecimal with 0x), with one exception: a leading zero means decimal in
// every form, as the address checks read quads ("012.66.1.1" is 12.66.1.1,
// "010.91.514" is 10.91.2.2), never octal. A blank ends the text. nullopt
// for any other text.
std::optional<uint32_t> ParseIpv4Text(std::string_view text);

// An IPv6 address written as RFC 4291 allows (groups of up to four hex
// digits, one "::", an IPv4 tail in dotted decimal); no zone. nullopt for
// any other text.
std::optional<IpAddress::Bytes> ParseIpv6Text(std::string_view text);

// RFC 5952 text: lower case, no leading zeros, the longest run of two or
// more zero groups (the first of equal runs) as "::", IPv4-mapped addresses
// with a dotted tail. No zone.
std::string Ipv6Text(const IpAddress::Bytes& bytes);

}  // namespace sentrel
