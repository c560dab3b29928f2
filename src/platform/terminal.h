#pragma once

#include <string>

namespace sentrel {

// The name of the character set that the terminal shows text in, as the
// user's locale gives it ("UTF-8", "CP1251", "ANSI_X3.4-1968", ...); empty
// when the locale names none.
std::string TerminalCharset();

}  // namespace sentrel
