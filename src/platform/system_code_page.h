#pragma once

namespace sentrel {

// The Windows 8-bit code page in which this system's programs wrote legacy
// text: on Windows the ANSI code page; elsewhere the one that the user's
// locale's language used on Windows (ru_RU gives 1251, de_DE 1252). 0 when
// the locale names no language.
int SystemCodePage();

}  // namespace sentrel
