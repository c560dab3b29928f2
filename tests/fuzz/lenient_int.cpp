// Fuzz target: the lenient integer parsers that read every number of the
// data file, the registry file, the options and the language files.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/lenient_int.h"
#include "fuzz_support.h"

using sentrel::ParseLenientInt;
using sentrel::ParseLenientInt64;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // Both parsers wrap the same digits, one at 32 bits and one at 64, so
  // their low 32 bits agree whatever the length of the number.
  const int64_t wide = ParseLenientInt64(input);
  const int32_t narrow = ParseLenientInt(input);
  FUZZ_CHECK(static_cast<uint32_t>(wide) == static_cast<uint32_t>(narrow));

  // Reading stops at the first character that is not a digit.
  const std::size_t signs = !input.empty() && (input[0] == '+' || input[0] == '-') ? 1 : 0;
  std::size_t digits = signs;
  while (digits < input.size() && input[digits] >= '0' && input[digits] <= '9') ++digits;
  if (digits == signs) FUZZ_CHECK(wide == 0);
  FUZZ_CHECK(ParseLenientInt64(input.substr(0, digits)) == wide);

  // A number written in decimal reads back as itself, whatever follows a
  // character that ends it.
  sentrel::fuzz::ByteReader reader(data, size);
  const uint64_t high = reader.Long();
  const auto value = static_cast<int64_t>(high << 32 | reader.Long());
  std::string written = std::to_string(value);
  const std::string_view tail = reader.Rest();
  if (tail.empty() || tail[0] < '0' || tail[0] > '9') written.append(tail);
  FUZZ_CHECK(ParseLenientInt64(written) == value);
  FUZZ_CHECK(ParseLenientInt(written) == static_cast<int32_t>(static_cast<uint32_t>(value)));
  return 0;
}
