#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sentrel {

// UTF-8 routines for texts that come from files a person may have written
// with any editor. "Valid" is strict UTF-8: no overlong forms, no UTF-16
// surrogates, nothing above U+10FFFF.

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsValidUtf8(std::string_view bytes);

// How much of `bytes` reads as UTF-8: the number of valid sequences of two
// to four bytes, and the number of bytes that belong to no valid sequence.
struct Utf8Census {
  std::size_t multibyte = 0;
  std::size_t invalid = 0;
};
Utf8Census CountUtf8(std::string_view bytes);

// `bytes` with every invalid sequence replaced by U+FFFD, so that the result
// is always valid UTF-8; valid input comes back unchanged.
std::string RepairUtf8(std::string_view bytes);

// The characters of `text`; each invalid byte gives U+FFFD.
std::u32string Utf8CodePoints(std::string_view text);

// Appends the UTF-8 form of `code_point`; a surrogate or a value above
// U+10FFFF appends U+FFFD.
void AppendUtf8(std::string& text, char32_t code_point);

// `text` with every capital letter of the Latin, Greek and Cyrillic
// alphabets made small, so that two names that differ only in letter case
// compare equal ("ЦОД-Север" and "цод-север"). Invalid bytes stay.
std::string FoldLetterCase(std::string_view text);

// The number of bytes of the first `characters` characters of `text`, a
// character being any byte other than a continuation byte (10xxxxxx) with the
// continuation bytes that follow it; so a cut there never splits a valid
// sequence. The whole size when `text` is shorter.
std::size_t Utf8PrefixBytes(std::string_view text, std::size_t characters);

}  // namespace sentrel
