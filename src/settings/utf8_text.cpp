#include "settings/utf8_text.h"

namespace sentrel {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence at `at`, or 0 when the bytes there
// are not one.
std::size_t ValidSequenceLength(std::string_view bytes, std::size_t at) {
  const auto lead = static_cast<unsigned char>(bytes[at]);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  char32_t code = 0;
  char32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, least = 0x10000;
  } else {
    return 0;  // a stray continuation byte, C0/C1 (always overlong), F5..FF
  }
  if (bytes.size() - at < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto b = static_cast<unsigned char>(bytes[at + i]);
    if (!IsContinuation(b)) return 0;
    code = (code << 6) | (b & 0x3F);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = ValidSequenceLength(bytes, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

Utf8Census CountUtf8(std::string_view bytes) {
  Utf8Census census;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = ValidSequenceLength(bytes, at);
    if (length == 0) {
      ++census.invalid;
      ++at;
    } else {
      if (length > 1) ++census.multibyte;
      at += length;
    }
  }
  return census;
}

std::string RepairUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = ValidSequenceLength(bytes, at);
    if (length == 0) {
      AppendUtf8(text, kReplacement);
      ++at;
    } else {
      text.append(bytes.substr(at, length));
      at += length;
    }
  }
  return text;
}

std::u32string Utf8CodePoints(std::string_view text) {
  std::u32string characters;
  characters.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = ValidSequenceLength(text, at);
    if (length == 0) {
      characters.push_back(kReplacement);
      ++at;
      continue;
    }
    auto code = static_cast<char32_t>(static_cast<unsigned char>(text[at]));
    if (length > 1) code &= 0x7F >> length;  // the lead byte's payload bits
    for (std::size_t i = 1; i < length; ++i) {
      code = (code << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    }
    characters.push_back(code);
    at += length;
  }
  return characters;
}

void AppendUtf8(std::string& text, char32_t code_point) {
  if (code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) {
    code_point = kReplacement;
  }
  const auto put = [&text](char32_t byte) { text.push_back(static_cast<char>(byte)); };
  if (code_point < 0x80) {
    put(code_point);
  } else if (code_point < 0x800) {
    put(0xC0 | (code_point >> 6));
    put(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    put(0xE0 | (code_point >> 12));
    put(0x80 | ((code_point >> 6) & 0x3F));
    put(0x80 | (code_point & 0x3F));
  } else {
    put(0xF0 | (code_point >> 18));
    put(0x80 | ((code_point >> 12) & 0x3F));
    put(0x80 | ((code_point >> 6) & 0x3F));
    put(0x80 | (code_point & 0x3F));
  }
}

std::size_t Utf8PrefixBytes(std::string_view text, std::size_t characters) {
  std::size_t seen = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (IsContinuation(static_cast<unsigned char>(text[at]))) continue;
    if (seen == characters) return at;
    ++seen;
  }
  return text.size();
}

namespace {

// Pairs in which the capital comes first and the small letter follows it.
bool EvenCapital(char32_t c) {
  return (c >= 0x100 && c <= 0x137 && c != 0x130) || (c >= 0x14A && c <= 0x177) ||
         (c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F);
}

// Pairs in which the small letter comes first.
bool OddCapital(char32_t c) {
  return (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E) || (c >= 0x4C1 && c <= 0x4CE);
}

char32_t SmallLetter(char32_t c) {
  if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;  // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;                // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (EvenCapital(c)) return c % 2 == 0 ? c + 1 : c;
  if (OddCapital(c)) return c % 2 == 1 ? c + 1 : c;
  switch (c) {
    case 0x178: return 0xFF;   // Ÿ
    case 0x386: return 0x3AC;  // Ά
    case 0x388: case 0x389: case 0x38A: return c + 0x25;
    case 0x38C: return 0x3CC;
    case 0x38E: case 0x38F: return c + 0x3F;
    case 0x4C0: return 0x4CF;  // Ӏ
    default: return c;
  }
}

}  // namespace

std::string FoldLetterCase(std::string_view text) {
  std::string folded;
  folded.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8PrefixBytes(text.substr(at), 1);
    const std::string_view character = text.substr(at, length);
    at += length;
    const std::u32string points = Utf8CodePoints(character);
    if (points.size() != 1 || !IsValidUtf8(character)) {
      folded.append(character);
      continue;
    }
    AppendUtf8(folded, SmallLetter(points[0]));
  }
  return folded;
}

}  // namespace sentrel
