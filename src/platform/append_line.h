#pragma once

#include <string>
#include <string_view>

namespace sentrel {

// Permission of a log that may hold what others must not read (the mail
// transfer log: server conversation, user name): its user alone.
inline constexpr unsigned kPrivateFileMode = 0600;

// Appends `line` and CR LF to `file`, creating the file when missing with
// permission `mode` (less the process umask; an existing file keeps its
// own). A file that cannot be opened is skipped silently: logging must never
// stop the work being logged.
void AppendLine(const std::string& file, std::string_view line, unsigned mode = 0644);

// Opens `file` for appending (every write goes to its end, also with another
// writer), creating it when missing with permission `mode` as above. Returns
// a descriptor for WriteAll, or -1 when the file cannot be opened.
int OpenForAppending(const std::string& file, unsigned mode = 0644);
// Closes a descriptor from OpenForAppending; -1 is ignored.
void CloseAppending(int fd);

}  // namespace sentrel
