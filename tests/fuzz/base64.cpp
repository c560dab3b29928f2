// Fuzz target: Base64 decoding (the CRAM-MD5 challenge comes from the mail
// server) and encoding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/base64.h"
#include "fuzz_support.h"

using sentrel::Base64Decode;
using sentrel::Base64Encode;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // As text from a server: what decodes encodes again to text of the same
  // length (only the unused low bits of the last group may differ), and
  // that text decodes to the same bytes.
  if (const auto bytes = Base64Decode(input)) {
    const std::string again = Base64Encode(*bytes);
    FUZZ_CHECK(again.size() == input.size());
    FUZZ_CHECK(Base64Decode(again) == bytes);
    const std::size_t whole = input.size() < 4 ? 0 : input.size() - 4;
    FUZZ_CHECK(std::string_view(again).substr(0, whole) == input.substr(0, whole));
    FUZZ_CHECK(again.find('=') == input.find('='));
  } else {
    FUZZ_CHECK(!input.empty());
  }

  // As bytes to send: the text is padded to whole groups, holds only the
  // alphabet and "=", and decodes back exactly.
  const std::string text = Base64Encode(input);
  FUZZ_CHECK(text.size() == (size + 2) / 3 * 4);
  for (const char c : text) {
    FUZZ_CHECK((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '+' || c == '/' || c == '=');
  }
  FUZZ_CHECK(Base64Decode(text) == input);
  return 0;
}
