#pragma once

#include <optional>
#include <string>
#include <string_view>

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

// The Windows code page that legacy text is read in: the one that the
// user's language file is written in or names, or 0 (the default) to tell
// Windows-1251 from Windows-1252 by the letters of each text. Any thread.
void SetLegacyCodePage(int code_page);
int LegacyCodePage();

// Bytes from outside as UTF-8 (always valid): valid UTF-8 as it is, other
// bytes read in `code_page` when it is known, else in LegacyCodePage(), else
// in the code page that DetectCodePage finds for them.
std::string DecodeOutsideText(std::string_view bytes, int code_page = 0);

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

// Whether the UTF-8 `text` holds a Cyrillic letter.
bool HasCyrillic(std::string_view text);

// The Windows code page in which the Windows program held `text`:
// LegacyCodePage() when set, else 1251 for a text with Cyrillic letters,
// else 1252.
int WindowsCodePageFor(std::string_view text);

// The UTF-8 `text` in `code_page`; nothing when the code page lacks one of
// its characters.
std::optional<std::string> Utf8ToCodePage(std::string_view text, int code_page);

}  // namespace sentrel
