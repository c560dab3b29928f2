#pragma once

#include <string>
#include <string_view>

// Inside the Windows layer: the program's UTF-8 text as the wide (UTF-16)
// text of the system's W functions, and back.
namespace sentrel {

// Invalid UTF-8 is read as the ANSI code page's text, as the system reads
// bytes of its A functions, so that legacy 8-bit names still name their files.
std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);
// True when `text` is valid UTF-8 (and so passes Widen unchanged in meaning).
bool IsUtf8(std::string_view text);

}  // namespace sentrel
