#include "settings/language_text.h"

#include "common/lenient_int.h"
#include "common/text.h"
#include "settings/code_page.h"
#include "settings/ini_file.h"
#include "settings/utf8_text.h"

namespace sentrel {

namespace {

constexpr int kCyrillic = 1251;
constexpr int kWestern = 1252;

bool IsHigh(char c) { return static_cast<unsigned char>(c) >= 0x80; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The code page that the file names for itself, or 0.
int NamedCodePage(std::string_view bytes) {
  // The section and key names are ASCII, which every code page shares, so
  // the raw bytes can be read as INI before they are decoded.
  const auto named = IniFile::Parse(bytes).Get("Language", "CodePage");
  if (!named) return 0;
  // Blanks inside quotes are kept by the INI rules; a number does not need them.
  const int code_page = ParseLenientInt(TrimBlanks(*named));
  return IsKnownCodePage(code_page) ? code_page : 0;
}

}  // namespace

int DetectCodePage(std::string_view bytes) {
  std::size_t cyrillic = 0;
  std::size_t western = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    if (!IsHigh(bytes[at])) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < bytes.size() && IsHigh(bytes[end])) ++end;
    const std::size_t length = end - at;
    const bool next_to_letter = (at > 0 && IsAsciiLetter(bytes[at - 1])) ||
                                (end < bytes.size() && IsAsciiLetter(bytes[end]));
    if (length >= 3) {
      cyrillic += length;
    } else if (next_to_letter) {
      western += length;
    } else if (length == 2) {
      cyrillic += length;
    }
    at = end;
  }
  return cyrillic > western ? kCyrillic : kWestern;
}

LanguageText DecodeLanguageText(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Bom)) {
    return {RepairUtf8(bytes.substr(kUtf8Bom.size())), kUtf8CodePage};
  }
  if (IsValidUtf8(bytes)) return {std::string(bytes), kUtf8CodePage};
  int code_page = NamedCodePage(bytes);
  if (code_page == 0) {
    const Utf8Census census = CountUtf8(bytes);
    if (census.multibyte > census.invalid) return {RepairUtf8(bytes), kUtf8CodePage};
    code_page = DetectCodePage(bytes);
  }
  return {CodePageToUtf8(bytes, code_page), code_page};
}

}  // namespace sentrel
