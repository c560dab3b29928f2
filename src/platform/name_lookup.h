#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/ip_address.h"

namespace sentrel {

// The system resolver. Every call blocks (hosts file, DNS) and is safe from
// many threads at once.

// Every address of a host name, IPv4 and IPv6, in the resolver's order;
// empty when the lookup fails.
std::vector<IpAddress> LookUpHostAddresses(const std::string& name);

// The name the reverse lookup of `address` finds; empty when it finds none.
std::string LookUpAddressName(const IpAddress& address);

// The index of the network interface `name` ("eth0"), 0 when there is none;
// and the name of an index, empty when there is none. The zones of scoped
// IPv6 addresses are written with these names.
uint32_t InterfaceIndex(const std::string& name);
std::string InterfaceName(uint32_t index);

}  // namespace sentrel
