#pragma once

#include <string>
#include <string_view>

#include "probes/address.h"

namespace sentrel {

// What a host may be given by, wherever a host enters the list (the host
// dialog, --add, an import): an address written out, or a host name that
// can be looked up. Anything else would be stored and then fail every check
// without a word, so it is refused with its reason.

enum class AddressFault {
  None,
  Empty,
  Blank,            // a blank or control character anywhere
  TooLong,          // a name over 253 characters
  BadIpv4,          // only digits and dots, but not four parts of 0 to 255
  NoAddressMark,    // 255.255.255.255: the program's mark for "no address"
  BadIpv6,          // has a ":" but is no IPv6 address
  UnknownZone,      // "%zone" names no interface of this computer
  ZoneNeeded,       // a link-local IPv6 address without "%zone"
  BadCharacter,     // a name holds something other than a-z, 0-9, "-" and "."
  EmptyLabel,       // a name with ".." or a leading dot
  LabelTooLong,     // a label over 63 characters
  HyphenAtEdge,     // a label that starts or ends with "-"
  NumericTopLabel,  // a name whose last label is all digits (a mistyped address)
};

// The English text of a fault, as the command line and the import report
// give it; empty for None.
std::string_view AddressFaultText(AddressFault fault);

enum class HostAddressKind { Refused, Address, Name };

struct HostAddressCheck {
  HostAddressKind kind = HostAddressKind::Refused;
  AddressFault fault = AddressFault::None;
  // What to store: an address in its canonical text (an IPv4-mapped IPv6
  // address as its IPv4 address), a name as written.
  std::string text;
  IpAddress address;  // for kind Address
};

// Checks the syntax alone, without a lookup: a dotted quad (four decimal
// parts, leading zeros read as decimal), an IPv6 address (a zone must name
// an interface here, and a link-local address needs one), or a host name of
// RFC 1123 labels (letters, digits and inner hyphens, 1 to 63 characters
// each, at most 253 in all, one trailing dot allowed, the last label not
// all digits).
HostAddressCheck CheckHostAddress(std::string_view text);

// Whether a name has an address now (the system resolver; blocks). A name
// that does not may still be added: it is looked up again before each check.
bool NameResolvesNow(const std::string& name);

// The warning that goes with a name that does not resolve now.
inline constexpr std::string_view kDoesNotResolveNow = "does not resolve now";

}  // namespace sentrel
