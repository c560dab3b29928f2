#include "probes/host_address.h"

#include <algorithm>

#include "platform/name_lookup.h"

namespace sentrel {

namespace {

constexpr std::size_t kMaxNameLength = 253;
constexpr std::size_t kMaxLabelLength = 63;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

HostAddressCheck Refused(AddressFault fault) { return {HostAddressKind::Refused, fault, {}, {}}; }

HostAddressCheck Accepted(const IpAddress& address) {
  return {HostAddressKind::Address, AddressFault::None, AddressText(address), address};
}

HostAddressCheck CheckIpv4(std::string_view text) {
  const auto quad = ParseDecimalQuad(text);
  if (!quad) return Refused(AddressFault::BadIpv4);
  if (*quad == kNoAddress) return Refused(AddressFault::NoAddressMark);
  return Accepted(IpAddress::V4(*quad));
}

bool IsLinkLocal(const IpAddress::Bytes& bytes) { return bytes[0] == 0xfe && (bytes[1] & 0xc0) == 0x80; }

// The interface a zone names, 0 for none; by number or by name.
uint32_t ZoneInterface(std::string_view zone) {
  if (zone.empty()) return 0;
  if (std::all_of(zone.begin(), zone.end(), IsDigit)) {
    if (zone.size() > 9) return 0;
    const auto index = static_cast<uint32_t>(std::stoul(std::string(zone)));
    return InterfaceName(index).empty() ? 0 : index;
  }
  return InterfaceIndex(std::string(zone));
}

HostAddressCheck CheckIpv6(std::string_view text) {
  const std::size_t percent = text.find('%');
  const auto bytes = ParseIpv6Text(text.substr(0, percent));
  if (!bytes) return Refused(AddressFault::BadIpv6);
  const auto mapped = ParseAddress(std::string(text.substr(0, percent)));
  if (mapped && !mapped->IsV6()) {
    // An IPv4 address in IPv6 dress is checked, stored and pinged as itself.
    if (percent != std::string_view::npos) return Refused(AddressFault::BadIpv6);
    if (mapped->V4Value() == kNoAddress) return Refused(AddressFault::NoAddressMark);
    return Accepted(*mapped);
  }
  uint32_t zone = 0;
  if (percent != std::string_view::npos) {
    zone = ZoneInterface(text.substr(percent + 1));
    if (zone == 0) return Refused(AddressFault::UnknownZone);
  } else if (IsLinkLocal(*bytes)) {
    // The same link-local address may exist on every link: without an
    // interface the echo has nowhere to go.
    return Refused(AddressFault::ZoneNeeded);
  }
  return Accepted(IpAddress::V6(*bytes, zone));
}

HostAddressCheck CheckName(std::string_view text) {
  std::string_view name = text;
  if (name.size() > 1 && name.back() == '.') name.remove_suffix(1);
  if (name.size() > kMaxNameLength) return Refused(AddressFault::TooLong);
  const bool allowed = std::all_of(name.begin(), name.end(), [](char c) {
    return IsLetter(c) || IsDigit(c) || c == '-' || c == '.';
  });
  if (!allowed) return Refused(AddressFault::BadCharacter);
  std::string_view last;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = name.find('.', start);
    const std::string_view label = name.substr(start, dot - start);
    if (label.empty()) return Refused(AddressFault::EmptyLabel);
    if (label.size() > kMaxLabelLength) return Refused(AddressFault::LabelTooLong);
    if (label.front() == '-' || label.back() == '-') return Refused(AddressFault::HyphenAtEdge);
    last = label;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  // A name never ends in a number (RFC 1123, 2.1): "1.2.3.4.5" is a
  // mistyped address, not a name to look up.
  if (std::all_of(last.begin(), last.end(), IsDigit)) return Refused(AddressFault::NumericTopLabel);
  return {HostAddressKind::Name, AddressFault::None, std::string(text), {}};
}

}  // namespace

std::string_view AddressFaultText(AddressFault fault) {
  switch (fault) {
    case AddressFault::None:
      return {};
    case AddressFault::Empty:
      return "no address or host name";
    case AddressFault::Blank:
      return "blanks and control characters are not allowed in an address or host name";
    case AddressFault::TooLong:
      return "a host name has at most 253 characters";
    case AddressFault::BadIpv4:
      return "not an IPv4 address (four numbers of 0 to 255 joined by dots)";
    case AddressFault::NoAddressMark:
      return "255.255.255.255 cannot be checked";
    case AddressFault::BadIpv6:
      return "not an IPv6 address";
    case AddressFault::UnknownZone:
      return "the zone after % names no network interface of this computer";
    case AddressFault::ZoneNeeded:
      return "a link-local IPv6 address needs its interface after % (fe80::1%eth0)";
    case AddressFault::BadCharacter:
      return "a host name holds only letters a-z, digits, '-' and '.'";
    case AddressFault::EmptyLabel:
      return "a host name has no empty part between dots";
    case AddressFault::LabelTooLong:
      return "a part of a host name between dots has at most 63 characters";
    case AddressFault::HyphenAtEdge:
      return "a part of a host name neither starts nor ends with '-'";
    case AddressFault::NumericTopLabel:
      return "a host name does not end in a number (is it a mistyped address?)";
  }
  return {};
}

HostAddressCheck CheckHostAddress(std::string_view text) {
  if (text.empty()) return Refused(AddressFault::Empty);
  if (std::any_of(text.begin(), text.end(),
                  [](char c) { return static_cast<unsigned char>(c) <= 32 || c == 127; }))
    return Refused(AddressFault::Blank);
  if (text.find(':') != std::string_view::npos) return CheckIpv6(text);
  if (std::all_of(text.begin(), text.end(), [](char c) { return IsDigit(c) || c == '.'; }))
    return CheckIpv4(text);
  return CheckName(text);
}

bool NameResolvesNow(const std::string& name) { return !LookUpHostAddresses(name).empty(); }

}  // namespace sentrel
