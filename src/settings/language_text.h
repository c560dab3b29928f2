#pragma once

#include <string>
#include <string_view>

#include "settings/text_model.h"  // DetectCodePage, the rule for other bytes

namespace sentrel {

struct LanguageText {
  std::string utf8;    // the file's text, always valid UTF-8, BOM removed
  int code_page = 0;   // what it was read as: kUtf8CodePage or a Windows code page
  bool named = false;  // the code page is the one the file names
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
// - any other bytes are read by DecodeOutsideText's rule (DetectCodePage).
LanguageText DecodeLanguageText(std::string_view bytes);

// The code page of the user's language (SetLanguageCodePage): the 8-bit code
// page the file is written in, named or found; for a file in UTF-8, 1251
// when its captions are Cyrillic, else none.
LanguageCodePage ImpliedCodePage(const LanguageText& text);

}  // namespace sentrel
