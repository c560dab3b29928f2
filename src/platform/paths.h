#pragma once

#include <string>

namespace sentrel {

// Per-user data folder: $XDG_DATA_HOME (default ~/.local/share) + "/Sentrel",
// without a trailing separator. Empty when neither XDG_DATA_HOME nor HOME is
// set. The folder is not created here.
std::string GetDataFolder();

// Per-user configuration folder: $XDG_CONFIG_HOME (default ~/.config) +
// "/Sentrel". Empty when neither variable is set.
std::string GetConfigFolder();

// Folder for per-user run-time files such as the single-instance lock:
// $XDG_RUNTIME_DIR, else the temporary folder.
std::string GetRuntimeFolder();

// The running executable itself (for the autostart entry). Empty when it
// cannot be found.
std::string GetProgramPath();

// Folder of the running executable (for language files, help pages and the
// fallback place of smtp.log). Empty when it cannot be found.
std::string GetProgramFolder();

// Joins a folder and a file name with one separator between them, as the
// program joins "folder + backslash when missing + name".
std::string JoinPath(const std::string& folder, const std::string& name);

// `text` with every %NAME% replaced by the environment variable NAME, as the
// system expands a stored path of the expandable string type; names that
// are not set stay as written.
std::string ExpandEnvironmentNames(const std::string& text);

}  // namespace sentrel
