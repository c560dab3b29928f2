#include "lenient_int.h"

namespace sentrel {

int64_t ParseLenientInt64(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Unsigned arithmetic wraps without undefined behaviour.
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10u + static_cast<uint64_t>(text[i] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<int64_t>(value);
}

int32_t ParseLenientInt(std::string_view text) {
  return static_cast<int32_t>(static_cast<uint32_t>(ParseLenientInt64(text)));
}

}  // namespace sentrel
