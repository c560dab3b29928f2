#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sentrel {

// Base64 with the standard alphabet and "=" padding (RFC 4648, section 4).
std::string Base64Encode(std::string_view bytes);

// Decodes padded Base64. Returns nothing for input that is not Base64: a
// length that is not a multiple of 4, a character outside the alphabet
// (blanks and line breaks included), or "=" anywhere but in the last one or
// two places.
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace sentrel
