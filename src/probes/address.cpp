#include "probes/address.h"

#include <algorithm>
#include <cstring>

#include "platform/name_lookup.h"

namespace sentrel {

namespace {

const IpAddress kNone = IpAddress::V4(kNoAddress);

struct Ipv6Parts {
  IpAddress::Bytes bytes;
  std::string zone;  // empty: none
};

bool IsZoneCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '_' || c == '.';
}

std::optional<Ipv6Parts> SplitIpv6(const std::string& text) {
  const size_t percent = text.find('%');
  const auto bytes = ParseIpv6Text(std::string_view(text).substr(0, percent));
  if (!bytes) return std::nullopt;
  Ipv6Parts parts{*bytes, {}};
  if (percent != std::string::npos) {
    parts.zone = text.substr(percent + 1);
    if (parts.zone.empty() || !std::all_of(parts.zone.begin(), parts.zone.end(), IsZoneCharacter))
      return std::nullopt;
  }
  return parts;
}

uint32_t ZoneIndex(const std::string& zone) {
  if (zone.empty()) return 0;
  if (std::all_of(zone.begin(), zone.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
      zone.size() < 10)
    return static_cast<uint32_t>(std::stoul(zone));
  return InterfaceIndex(zone);
}

bool Matches(const IpAddress& address, AddressFamily family) {
  return family == AddressFamily::Automatic || address.IsV6() == (family == AddressFamily::IPv6);
}

}  // namespace

IpAddress NoAddress() { return kNone; }

bool IsNoAddress(const IpAddress& address) { return address == kNone; }

AddressFamily AddressFamilyOf(int32_t stored) {
  switch (stored) {
    case 4:
      return AddressFamily::IPv4;
    case 6:
      return AddressFamily::IPv6;
    default:
      return AddressFamily::Automatic;
  }
}

std::optional<IpAddress> ParseAddress(const std::string& text) {
  if (const auto v4 = ParseIpv4Text(text)) return IpAddress::V4(*v4);
  const auto v6 = SplitIpv6(text);
  if (!v6) return std::nullopt;
  // An IPv4-mapped address (::ffff:a.b.c.d) is the IPv4 host itself: it is
  // pinged over IPv4, where it answers.
  const IpAddress::Bytes& b = v6->bytes;
  if (std::all_of(b.begin(), b.begin() + 10, [](uint8_t x) { return x == 0; }) && b[10] == 0xff &&
      b[11] == 0xff && v6->zone.empty()) {
    uint32_t v4 = 0;
    std::memcpy(&v4, &b[12], sizeof v4);  // already in network order
    return IpAddress::V4(v4);
  }
  return IpAddress::V6(v6->bytes, ZoneIndex(v6->zone));
}

IpAddress ResolveAddress(const std::string& text, AddressFamily family) {
  if (text.empty()) return kNone;
  if (const auto written = ParseAddress(text); written && !IsNoAddress(*written)) return *written;
  const std::vector<IpAddress> found = LookUpHostAddresses(text);
  // IPv4 first, so that a name with both kinds keeps the address it had
  // before IPv6 was known to the program.
  const AddressFamily first = family == AddressFamily::Automatic ? AddressFamily::IPv4 : family;
  for (AddressFamily wanted : {first, family}) {
    const auto hit = std::find_if(found.begin(), found.end(),
                                  [wanted](const IpAddress& a) { return Matches(a, wanted); });
    if (hit != found.end()) return *hit;
  }
  return kNone;
}

std::string AddressToDotted(uint32_t address) {
  const auto* b = reinterpret_cast<const uint8_t*>(&address);
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
         std::to_string(b[3]);
}

std::string AddressText(const IpAddress& address) {
  if (!address.IsV6()) return AddressToDotted(address.V4Value());
  std::string text = Ipv6Text(address.V6Bytes());
  if (address.Zone() != 0) {
    const std::string name = InterfaceName(address.Zone());
    text += "%" + (name.empty() ? std::to_string(address.Zone()) : name);
  }
  return text;
}

std::string AddressToName(const IpAddress& address) {
  std::string name = LookUpAddressName(address);
  return name.empty() ? AddressText(address) : name;
}

bool IsDottedQuad(const std::string& text) { return ParseDecimalQuad(text).has_value(); }

bool IsAddressLiteral(const std::string& text) {
  return IsDottedQuad(text) || SplitIpv6(text).has_value();
}

}  // namespace sentrel
