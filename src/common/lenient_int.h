#pragma once

#include <cstdint>
#include <string_view>

namespace sentrel {

// The one integer parser of the program: an optional "+" or "-", then decimal
// digits up to the first other character. No digits give 0. No range check:
// the value wraps around like the stored integer does.
int32_t ParseLenientInt(std::string_view text);
int64_t ParseLenientInt64(std::string_view text);

}  // namespace sentrel
