#pragma once

#include <string>
#include <string_view>

namespace sentrel {

// The code page number by which UTF-8 is known on Windows; DecodeLanguageText
// reports it for a file that was read as UTF-8.
inline constexpr int kUtf8CodePage = 65001;

struct LanguageText {
  std::string utf8;   // the file's text, always valid UTF-8, BOM removed
  int code_page = 0;  // what it was read as: kUtf8CodePage or a Windows code page
};

// Turns the bytes of a language file into UTF-8 text:
// - bytes that are valid UTF-8, with or without a byte order mark, are taken
//   as they are (plain ASCII is valid UTF-8);
// - bytes that start with the byte order mark but are not valid UTF-8 are
//   read as UTF-8 all the same, each invalid byte giving U+FFFD;
// - other bytes are in a Windows 8-bit code page when the key "CodePage" of
//   the section "[Language]" names a known one (see IsKnownCodePage);
// - without such a key, bytes that hold more valid UTF-8 sequences of two
//   bytes or more than bytes outside them are UTF-8 with a few damaged
//   places (an editor that mixed in an 8-bit character): read as UTF-8 with
//   U+FFFD for the damage. Real 8-bit text almost never forms valid
//   sequences, since its letters follow ASCII or other letters, not the
//   continuation bytes 0x80..0xBF;
// - any other bytes are in the code page that DetectCodePage finds.
LanguageText DecodeLanguageText(std::string_view bytes);

// Tells a text in Windows-1251 (Cyrillic) from one in Windows-1252 (Western)
// by the shape of its 8-bit letters. A Cyrillic word is a run of 8-bit
// letters with no ASCII letter in it, while a Western word is mostly ASCII
// letters with an accented one here and there. Every run of bytes of 0x80
// and above is judged by its length and its neighbours:
// - three or more in a row: Cyrillic;
// - one or two next to an ASCII letter: Western;
// - two standing alone ("на", "не"): Cyrillic;
// - one standing alone ("и", "à") says nothing.
// Each run counts with its length; Cyrillic wins only with more weight
// than Western, so a text without clear evidence is read as 1252.
int DetectCodePage(std::string_view bytes);

}  // namespace sentrel
