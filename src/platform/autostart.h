#pragma once

#include <string>

namespace sentrel {

// The desktop session's autostart entry of this program:
// $XDG_CONFIG_HOME/autostart/sentrel.desktop (default ~/.config), empty when
// neither XDG_CONFIG_HOME nor HOME is set; on Windows the value "Sentrel" of
// the key HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run.
std::string AutostartEntryPath();

// The text of the entry that starts `program` with the desktop session; the
// path is quoted and escaped as desktop entries (or the Run value) require.
std::string AutostartEntry(const std::string& program);

// Writes the entry (on) or removes it (off). Returns false with a reason in
// `error` when the entry cannot be written or removed; a missing entry is
// removed already.
bool SetAutostart(bool on, const std::string& program, std::string* error);

}  // namespace sentrel
