#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace sentrel {

// The name of the character set in which text handed to WriteTerminalText
// must be, as the user's locale gives it ("UTF-8", "CP1251",
// "ANSI_X3.4-1968", ...); empty when the locale names none. On Windows
// always "UTF-8": WriteTerminalText converts there.
std::string TerminalCharset();

// Whether `stream` is a terminal (a console), not a file or a pipe: only a
// person watching it wants a progress line rewritten in place.
bool IsTerminal(std::FILE* stream);

// Writes `text` to `stream` and flushes it. Elsewhere the bytes go as they
// are. On Windows `text` is UTF-8: a console gets it through the console's
// wide call, so every character shows whatever its code page; a redirected
// stream gets it in the console's output code page, or as UTF-8 when the
// program has no console.
void WriteTerminalText(std::FILE* stream, std::string_view text);

// The program's arguments after its name, in TerminalCharset(). On Windows
// they come from the wide command line (argv holds them in the ANSI code
// page, which loses every character it lacks).
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace sentrel
