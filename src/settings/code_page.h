#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sentrel {

// The Windows 8-bit code pages in which a language file may be written:
// 1250 Central European, 1251 Cyrillic, 1252 Western, 1253 Greek,
// 1254 Turkish, 1257 Baltic; and the OEM code pages of the console and the
// messenger service: 437 US, 850 Western European, 866 Cyrillic, and for
// receivers set up for them 737 Greek, 775 Baltic, 852 Central European,
// 855 Cyrillic (old), 857 Turkish. Code pages are named by their Windows
// numbers.

// The OEM code pages a messenger receiver may be fixed to, in the order the
// options offer them.
inline constexpr int kReceiverCodePages[] = {437, 850, 852, 866, 737, 775, 855, 857};
bool IsReceiverCodePage(int code_page);

// Whether `code_page` is one of the Windows 8-bit code pages above (not an
// OEM one): the ones that text from outside may be written in.
bool IsKnownCodePage(int code_page);

// Whether `code_page` is any of the code pages above, OEM ones included.
bool HasCodePage(int code_page);

// The character that `byte` stands for in `code_page`: ASCII below 0x80;
// for a byte that the code page leaves undefined, the control character of
// the same number (as Windows reads it); U+FFFD for every byte above 0x7F
// when the code page is none of the above.
char32_t CodePageCharacter(int code_page, unsigned char byte);

// `bytes` read in `code_page`, as UTF-8. Never fails (see CodePageCharacter).
std::string CodePageToUtf8(std::string_view bytes, int code_page);

// The byte that stands for `character` in `code_page`, or nothing when the
// code page has no such character (or is not known).
std::optional<char> CodePageByte(int code_page, char32_t character);

}  // namespace sentrel
