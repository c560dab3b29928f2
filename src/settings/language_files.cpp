#include "settings/language_files.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "common/text.h"
#include "platform/paths.h"
#include "settings/language_text.h"

#ifndef SENTREL_LANGUAGE_DIR
#define SENTREL_LANGUAGE_DIR ""
#endif

namespace sentrel {

namespace fs = std::filesystem;

namespace {

bool IsRegularFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

// The base name of a "*.lng" file in `folder`'s listing, or empty.
std::string LanguageName(const fs::directory_entry& entry) {
  const fs::path& path = entry.path();
  if (!EqualsIgnoringCase(path.extension().string(), kLanguageExtension)) return {};
  if (!IsRegularFile(path)) return {};
  return path.stem().string();
}

// Calls `visit` with the entry and the language name of every language file
// in `folder`. Errors end the walk quietly: a folder that cannot be read
// holds no languages.
template <typename Visit>
void ForEachLanguageFile(const fs::path& folder, Visit&& visit) {
  std::error_code error;
  fs::directory_iterator it(folder, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    std::string name = LanguageName(*it);
    if (!name.empty()) visit(*it, std::move(name));
  }
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  const std::string lower_a = AsciiLower(a);
  const std::string lower_b = AsciiLower(b);
  return lower_a != lower_b ? lower_a < lower_b : a < b;
}

void AddFolder(std::vector<fs::path>& folders, const fs::path& folder) {
  if (folder.empty()) return;
  std::error_code error;
  fs::path normal = fs::weakly_canonical(folder, error);
  if (error) normal = folder.lexically_normal();
  if (std::find(folders.begin(), folders.end(), normal) == folders.end()) {
    folders.push_back(std::move(normal));
  }
}

}  // namespace

std::vector<fs::path> LanguageFolders() {
  std::vector<fs::path> folders;
  const std::string program = GetProgramFolder();
  if (!program.empty()) {
    AddFolder(folders, program);
    AddFolder(folders, fs::path(program) / ".." / "share" / "sentrel" / "lang");
  }
  AddFolder(folders, SENTREL_LANGUAGE_DIR);
  return folders;
}

std::vector<std::string> ListLanguageFiles(const std::vector<fs::path>& folders) {
  std::vector<std::string> names;
  for (const fs::path& folder : folders) {
    ForEachLanguageFile(folder, [&names](const fs::directory_entry&, std::string name) {
      if (name[0] >= 'a' && name[0] <= 'z') name[0] = static_cast<char>(name[0] - 'a' + 'A');
      const bool listed = std::any_of(names.begin(), names.end(), [&name](const std::string& other) {
        return EqualsIgnoringCase(other, name);
      });
      if (!listed) names.push_back(std::move(name));
    });
  }
  std::sort(names.begin(), names.end(), LessIgnoringCase);
  return names;
}

std::optional<fs::path> FindLanguageFile(const std::vector<fs::path>& folders,
                                         std::string_view name) {
  if (name.empty() || name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos) {
    return std::nullopt;
  }
  const std::string file_name = std::string(name) + std::string(kLanguageExtension);
  for (const fs::path& folder : folders) {
    const fs::path exact = folder / file_name;
    if (IsRegularFile(exact)) return exact;
    // Of several files that differ only in letter case, the same one every
    // time: the first by name.
    std::optional<fs::path> found;
    ForEachLanguageFile(folder, [&](const fs::directory_entry& entry, const std::string&) {
      const fs::path candidate = entry.path();
      if (!EqualsIgnoringCase(candidate.filename().string(), file_name)) return;
      if (!found || candidate.filename() < found->filename()) found = candidate;
    });
    if (found) return found;
  }
  return std::nullopt;
}

std::optional<IniFile> LoadLanguageFile(const fs::path& path) {
  if (!IsRegularFile(path)) return std::nullopt;
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error || size > kMaxLanguageFileSize) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) return std::nullopt;
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  const LanguageText text = DecodeLanguageText(bytes);
  SetLanguageCodePage(ImpliedCodePage(text));
  return IniFile::Parse(text.utf8);
}

std::optional<IniFile> LoadLanguage(std::string_view name, const std::vector<fs::path>& folders) {
  const auto path = FindLanguageFile(folders, name);
  if (!path) return std::nullopt;
  return LoadLanguageFile(*path);
}

}  // namespace sentrel
