#pragma once

#include <string>
#include <string_view>

#include "settings/language_table.h"

namespace sentrel::testing {

// A value as it must stand after "=" to be read back unchanged: quoted when
// the reader would otherwise drop its outer blanks or its outer quotes.
inline std::string IniValue(std::string_view text) {
  const bool outer_blank = !text.empty() && (static_cast<unsigned char>(text.front()) <= 32 ||
                                             static_cast<unsigned char>(text.back()) <= 32);
  const bool outer_quotes = text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
                            text.back() == text.front();
  // Only the outer pair goes, so quotes inside need no escape.
  return outer_blank || outer_quotes ? "\"" + std::string(text) + "\"" : std::string(text);
}

// The text of resources/lang/English.lng: every key of the caption table
// with its built-in text, so that the shipped file cannot drift from the
// table. make_english_lng prints it.
inline std::string EnglishLanguageFile() {
  std::string file =
      "; Sentrel language file: English, the program's built-in texts.\n"
      "; Written in UTF-8. Copy this file to start a new language: see README.md.\n";
  for (const CaptionSection& section : CaptionSections()) {
    file += "\n[" + std::string(section.name) + "]\n";
    for (const Caption& caption : section.captions) {
      file += std::string(caption.key) + "=" + IniValue(caption.text) + "\n";
    }
  }
  return file;
}

}  // namespace sentrel::testing
