#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/ini_file.h"

namespace sentrel {

// Finding and reading the language files "<name>.lng". File names are
// matched without ASCII letter case, as on the file systems the files were
// first written for, so "english.lng" serves the language "English".

inline constexpr std::string_view kLanguageExtension = ".lng";

// A language file above this size is not read (the built-in texts stay); a
// complete file is a few kilobytes.
inline constexpr std::size_t kMaxLanguageFileSize = 1 << 20;

// The folders searched for language files, in this order, each once:
// the program's own folder; then the installed data folder, which is
// "share/sentrel/lang" beside the program's folder ("<prefix>/bin/..") and
// the same folder under the prefix that the program was built for. Folders
// that cannot be named (no program folder) are left out; folders that do
// not exist are kept, they simply hold no files.
std::vector<std::filesystem::path> LanguageFolders();

// The entries of the options dialog's language list: the names of the
// "*.lng" files (extension in any letter case) in `folders`, without the
// extension and with the first letter upper-cased (ASCII), sorted without
// regard to letter case. A name found in two folders, in any letter case,
// is listed once. Unreadable or missing folders add nothing.
std::vector<std::string> ListLanguageFiles(const std::vector<std::filesystem::path>& folders);

// The file of the language `name` (a base name, no folder, no extension):
// in the first folder that holds one, "<name>.lng" if it exists, else a file
// whose name equals it without regard to letter case. nullopt when no
// folder holds one, and for an empty name or one holding "/" or a zero
// byte, which cannot be a base name.
std::optional<std::filesystem::path> FindLanguageFile(
    const std::vector<std::filesystem::path>& folders, std::string_view name);

// The language file at `path`, decoded (DecodeLanguageText) and parsed.
// Reading it makes its code page the user's language's (SetLanguageCodePage
// with ImpliedCodePage): the best witness of the code page in which the
// Windows program wrote legacy text.
// nullopt when the file is missing, is not a regular file, cannot be read
// or is larger than kMaxLanguageFileSize; the windows then show their
// built-in texts.
std::optional<IniFile> LoadLanguageFile(const std::filesystem::path& path);

// FindLanguageFile, then LoadLanguageFile: what a window's language loader
// reads for the option `Language`.
std::optional<IniFile> LoadLanguage(std::string_view name,
                                    const std::vector<std::filesystem::path>& folders);

}  // namespace sentrel
