#pragma once

#include <string>
#include <vector>

namespace sentrel {

// Splits a parameter text like a command line: blanks separate arguments,
// double quotes group blanks into one argument, \" is a literal quote.
std::vector<std::string> SplitCommandLine(const std::string& params);

// Starts `program` with `params` directly (no shell in between, so nothing in
// the parameters is interpreted). A program that is not executable but
// exists as a file is treated as a document and opened with the desktop's
// default application (xdg-open). The started process is detached: it is not
// waited for and leaves no zombie. Returns false when nothing could be started.
bool StartProgram(const std::string& program, const std::string& params);

}  // namespace sentrel
