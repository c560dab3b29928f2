#include "settings/text_model.h"

#include <atomic>
#include <cctype>
#include <charconv>

#include "platform/system_code_page.h"
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

// A capital letter in both Windows-1251 and Windows-1252: "ДЦЬ" is "ÄÖÜ".
bool IsCapitalInBoth(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0xC0 && byte <= 0xDE && byte != 0xD7;
}

// Where nothing in the text decides: the language's code page, else the
// system's.
int FallbackCodePage() {
  if (const int language = GetLanguageCodePage().code_page; language != 0) return language;
  const int system = SystemCodePage();
  return IsKnownCodePage(system) ? system : kWestern;
}

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
    code_page = language.named ? language.code_page : DetectCodePage(bytes, FallbackCodePage());
  }
  return CodePageToUtf8(bytes, code_page);
}

int DetectCodePage(std::string_view bytes, int undecided) {
  // Weights in halves, so that an ambiguous byte can count half.
  std::size_t cyrillic = 0;
  std::size_t western = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    if (!IsHigh(bytes[at]) && !IsAsciiLetter(bytes[at])) {
      ++at;
      continue;
    }
    std::size_t high = 0, ascii = 0;
    bool capitalsInBoth = true;
    for (; at < bytes.size() && (IsHigh(bytes[at]) || IsAsciiLetter(bytes[at])); ++at) {
      if (!IsHigh(bytes[at])) {
        ++ascii;
        continue;
      }
      ++high;
      capitalsInBoth = capitalsInBoth && IsCapitalInBoth(bytes[at]);
    }
    if (high == 0) continue;
    if (ascii > 0) {
      western += 4 * high;
    } else if (high >= 2) {
      cyrillic += capitalsInBoth ? high : 2 * high;
    }
  }
  if (cyrillic == western) return undecided;
  return cyrillic > western ? kCyrillic : kWestern;
}

int CommonCodePage(const std::vector<std::string>& texts) {
  const LanguageCodePage language = GetLanguageCodePage();
  if (language.named) return language.code_page;
  std::string legacy;
  for (const std::string& text : texts) {
    if (IsValidUtf8(text)) continue;
    legacy += text;
    legacy += '\n';  // keeps the words of two texts apart
  }
  return DetectCodePage(legacy, FallbackCodePage());
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
