#include "settings/text_model.h"

#include <atomic>
#include <cctype>
#include <charconv>

#include "settings/code_page.h"
#include "settings/utf8_text.h"

namespace sentrel {

namespace {

constexpr int kCyrillic = 1251;
constexpr int kWestern = 1252;

// Both halves in one word, so that a reader never sees a torn pair.
std::atomic<int> languageCodePage{0};

bool IsHigh(char c) { return static_cast<unsigned char>(c) >= 0x80; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

void SetLanguageCodePage(LanguageCodePage language) {
  if (!IsKnownCodePage(language.code_page)) language = {};
  languageCodePage = language.code_page * 2 + (language.named ? 1 : 0);
}

LanguageCodePage GetLanguageCodePage() {
  const int packed = languageCodePage;
  return {packed / 2, packed % 2 == 1};
}

std::string DecodeOutsideText(std::string_view bytes, int code_page) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  if (!HasCodePage(code_page)) {
    const LanguageCodePage language = GetLanguageCodePage();
    code_page = language.named ? language.code_page
                               : DetectCodePage(bytes, language.code_page ? language.code_page
                                                                          : kWestern);
  }
  return CodePageToUtf8(bytes, code_page);
}

int DetectCodePage(std::string_view bytes, int undecided) {
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
  if (cyrillic == western) return undecided;
  return cyrillic > western ? kCyrillic : kWestern;
}

bool HasCyrillic(std::string_view text) {
  for (const char32_t c : Utf8CodePoints(text)) {
    if (c >= 0x400 && c <= 0x4FF) return true;
  }
  return false;
}

int WindowsCodePageFor(std::string_view text) {
  if (const LanguageCodePage language = GetLanguageCodePage(); language.named) {
    return language.code_page;
  }
  return HasCyrillic(text) ? kCyrillic : kWestern;
}

std::optional<std::string> Utf8ToCodePage(std::string_view text, int code_page) {
  std::string bytes;
  bytes.reserve(text.size());
  for (const char32_t c : Utf8CodePoints(text)) {
    const std::optional<char> byte = CodePageByte(code_page, c);
    if (!byte) return std::nullopt;
    bytes.push_back(*byte);
  }
  return bytes;
}

std::string TextForCodePage(std::string_view text, int code_page) {
  if (code_page == kUtf8CodePage) return std::string(text);
  std::string bytes;
  bytes.reserve(text.size());
  for (const char32_t c : Utf8CodePoints(text)) {
    bytes.push_back(CodePageByte(code_page, c).value_or('?'));
  }
  return bytes;
}

int CodePageOfCharset(std::string_view charset) {
  std::string name;
  for (const char c : charset) {
    if (std::isalnum(static_cast<unsigned char>(c))) name += static_cast<char>(std::toupper(c));
  }
  // ISO-8859-1 is Windows-1252 without the letters at 0x80..0x9F.
  if (name == "ISO88591" || name == "LATIN1") return kWestern;
  int code_page = 0;
  for (const std::string_view prefix : {"WINDOWS", "CP", "IBM"}) {
    if (name.starts_with(prefix)) {
      const auto digits = std::string_view(name).substr(prefix.size());
      std::from_chars(digits.data(), digits.data() + digits.size(), code_page);
    }
  }
  return HasCodePage(code_page) ? code_page : kUtf8CodePage;
}

}  // namespace sentrel
