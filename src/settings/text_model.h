#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sentrel {

// How the program holds text.
//
// Inside the program every text is UTF-8: host settings, options, captions,
// log lines, alarm texts. Bytes from outside (the data file, the registry
// file, language files, the command line, what a peer answers) pass
// DecodeOutsideText where they enter: valid UTF-8 stays as it is; anything
// else is legacy 8-bit text written by the Windows program, read in the
// Windows code page of the user's language. Where text leaves, each peer
// gets its own form: the data file keeps the bytes of a field nobody edited,
// the messenger gets the OEM code page that covers the text, mail gets MIME
// (UTF-8) only when a text is not ASCII, and a password is also tried in
// its Windows code page.

// The Windows code page of the user's language, as its language file tells
// it: the one the file names (`named`), or the one its letters imply.
struct LanguageCodePage {
  int code_page = 0;  // 0: none
  bool named = false;
};

// Set when the language file is read, read by every decoder; any thread.
void SetLanguageCodePage(LanguageCodePage language);
LanguageCodePage GetLanguageCodePage();

// The code page number by which UTF-8 is known on Windows.
inline constexpr int kUtf8CodePage = 65001;

// Bytes from outside as UTF-8 (always valid). Valid UTF-8 stays as it is.
// Other bytes are legacy 8-bit text, read in:
// - `code_page` when it is one of code_page.h's (the terminal's, or the one
//   CommonCodePage chose for the whole file the text comes from);
// - else the code page that the language file names, since letters cannot
//   tell, say, Windows-1250 from Windows-1252;
// - else Windows-1251 or Windows-1252 as DetectCodePage tells them apart by
//   the letters, and where the letters say nothing, the language's code page,
//   else the system's (Windows-1252 when that is none of code_page.h's).
std::string DecodeOutsideText(std::string_view bytes, int code_page = 0);

// Tells a text in Windows-1251 (Cyrillic) from one in Windows-1252 (Western)
// by the shape of its words (runs of ASCII letters and bytes of 0x80 and
// above). A Cyrillic word has no ASCII letter in it, while a Western word is
// mostly ASCII letters with an accented one here and there:
// - a word with ASCII letters and 8-bit bytes: Western, twice its 8-bit bytes;
// - a word of two or more 8-bit bytes alone: Cyrillic, its length; only half
//   of it when every byte is a capital in both code pages ("ÄÖÜ" is "ДЦЬ");
// - one 8-bit byte standing alone ("и", "à") says nothing.
// The heavier side wins. A text without such evidence, or with as much for
// either side, gives `undecided`.
int DetectCodePage(std::string_view bytes, int undecided = 1252);

// The one code page in which to read every legacy text of one file (the
// data file, the registry file): a program wrote them all in one, and a
// guess per text would read one name in Cyrillic and the next in Western
// letters. The code page the language file names; else DetectCodePage over
// all the texts that are not UTF-8 together, the language's or the system's
// code page deciding a tie.
int CommonCodePage(const std::vector<std::string>& texts);

// Whether the UTF-8 `text` holds a Cyrillic letter.
bool HasCyrillic(std::string_view text);

// The Windows code page in which the Windows program held the UTF-8
// `text`: the one the language file names, else 1251 for a text with
// Cyrillic letters, else 1252.
int WindowsCodePageFor(std::string_view text);

// The UTF-8 `text` in `code_page`; nothing when the code page lacks one of
// its characters.
std::optional<std::string> Utf8ToCodePage(std::string_view text, int code_page);

// The UTF-8 `text` for a peer that reads `code_page`: as it is for
// kUtf8CodePage; else each character the code page lacks becomes "?".
std::string TextForCodePage(std::string_view text, int code_page);

// The code page of a character set named as the C library names them
// ("UTF-8", "CP1251", "IBM866", "ISO-8859-1", ...): kUtf8CodePage for
// UTF-8, for plain ASCII and for a name without a table here.
int CodePageOfCharset(std::string_view charset);

}  // namespace sentrel
