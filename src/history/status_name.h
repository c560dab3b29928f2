#pragma once

#include <cstdint>
#include <string>

namespace sentrel {

// The failure status of a check in words: "11010 timed out",
// "11003 host unreachable", or the number alone for a code without a name.
std::string StatusName(uint32_t status);

}  // namespace sentrel
