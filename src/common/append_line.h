#pragma once

#include <string>
#include <string_view>

namespace sentrel {

// Appends `line` and CR LF to `file`, creating the file when missing. A file
// that cannot be opened is skipped silently: logging must never stop the
// work being logged.
void AppendLine(const std::string& file, std::string_view line);

}  // namespace sentrel
