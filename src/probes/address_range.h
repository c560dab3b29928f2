#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/ip_address.h"

namespace sentrel {

// The most addresses one sweep takes: a /22.
inline constexpr std::size_t kMaxRangeAddresses = 1024;

// The IPv4 addresses of a range to sweep, in order: a CIDR block
// "a.b.c.d/N" with N from 22 to 32 (the block that holds a.b.c.d; its
// network and broadcast addresses are left out up to /30, as nothing
// answers for them), or "a.b.c.d-e" (the last part from d to e). An empty
// result with `error` set (in English) for anything else.
std::vector<IpAddress> ParseAddressRange(std::string_view text, std::string& error);

}  // namespace sentrel
