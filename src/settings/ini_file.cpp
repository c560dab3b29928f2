#include "settings/ini_file.h"

#include <utility>

#include "common/text.h"
#include "settings/utf8_text.h"

namespace sentrel {

namespace {

std::string_view WithoutQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

IniFile IniFile::Parse(std::string_view text) {
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  IniFile file;
  // The section that entries go to; none before the first header and inside
  // a repeated section, whose entries the profile reading never sees.
  Section* current = nullptr;
  for (std::string_view line : SplitAtLineBreaks(text)) {
    line = TrimBlanksView(line);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close == std::string_view::npos) continue;
      const std::string_view name = TrimBlanksView(line.substr(1, close - 1));
      const auto [it, added] = file.by_name_.try_emplace(AsciiLower(name), file.sections_.size());
      if (added) {
        file.sections_.push_back(Section{std::string(name), {}, {}});
        current = &file.sections_.back();
      } else {
        current = nullptr;
      }
      continue;
    }
    if (current == nullptr) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = TrimBlanksView(line.substr(0, equals));
    if (key.empty()) continue;
    const auto [it, added] = current->by_key.try_emplace(AsciiLower(key), current->entries.size());
    if (!added) continue;
    std::string_view value = WithoutQuotes(TrimBlanksView(line.substr(equals + 1)));
    value = value.substr(0, Utf8PrefixBytes(value, kMaxValueLength));
    current->entries.push_back(Entry{std::string(key), std::string(value)});
  }
  return file;
}

const IniFile::Section* IniFile::FindSection(std::string_view name) const {
  const auto it = by_name_.find(AsciiLower(name));
  return it == by_name_.end() ? nullptr : &sections_[it->second];
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  const Section* found = FindSection(section);
  if (found == nullptr) return std::nullopt;
  const auto it = found->by_key.find(AsciiLower(key));
  if (it == found->by_key.end()) return std::nullopt;
  return found->entries[it->second].value;
}

bool IniFile::HasSection(std::string_view section) const { return FindSection(section) != nullptr; }

std::vector<std::string> IniFile::Sections() const {
  std::vector<std::string> names;
  names.reserve(sections_.size());
  for (const Section& section : sections_) names.push_back(section.name);
  return names;
}

std::vector<std::string> IniFile::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  if (const Section* found = FindSection(section)) {
    keys.reserve(found->entries.size());
    for (const Entry& entry : found->entries) keys.push_back(entry.key);
  }
  return keys;
}

}  // namespace sentrel
