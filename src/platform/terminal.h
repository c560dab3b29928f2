#pragma once

#include <cstdio>
#include <string>

namespace sentrel {

// The name of the character set that the terminal shows text in, as the
// user's locale gives it ("UTF-8", "CP1251", "ANSI_X3.4-1968", ...); empty
// when the locale names none.
std::string TerminalCharset();

// Whether `stream` is a terminal (a console), not a file or a pipe: only a
// person watching it wants a progress line rewritten in place.
bool IsTerminal(std::FILE* stream);

}  // namespace sentrel
