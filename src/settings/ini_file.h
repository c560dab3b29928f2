#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sentrel {

// An INI text read by the rules of Windows' profile reading, which the
// language files were written for:
// - a line is ended by LF, CR LF or a bare CR; blanks (bytes of 32 and less)
//   at the start and end of a line do not count;
// - "[name]" starts a section (the name is what stands between "[" and the
//   first "]", without blanks at its ends; anything after the "]" is
//   ignored); a line that starts with "[" and has no "]" is ignored;
// - "key=value" is an entry of the current section: the key ends at the
//   first "=", blanks around key and value are dropped, and a value enclosed
//   in a matching pair of quotes (both " or both ') loses them;
// - a value holds at most kMaxValueLength characters, the rest is cut;
// - lines starting with ";" are comments; lines without "=" or with an
//   empty key, and entries before the first section, are ignored;
// - names of sections and keys are compared without ASCII letter case;
// - when a section name appears again, only its first section is read (the
//   later one is ignored whole); of two entries with the same key in one
//   section the first counts;
// - a UTF-8 byte order mark at the very start is skipped.
// The text is taken as bytes; a character is counted as in UTF-8 (see
// Utf8PrefixBytes). Any bytes at all give some result.
class IniFile {
 public:
  static constexpr std::size_t kMaxValueLength = 4095;

  // An INI file without sections.
  IniFile() = default;

  static IniFile Parse(std::string_view text);

  // The value of `key` in `section`; nullopt when the section or the key is
  // missing. An entry with nothing after its "=" gives an empty string.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;

  bool HasSection(std::string_view section) const;

  // Section names as first written, in file order, each once.
  std::vector<std::string> Sections() const;

  // The keys of `section` as first written, in file order, each once; empty
  // when the section is missing.
  std::vector<std::string> Keys(std::string_view section) const;

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
    std::unordered_map<std::string, std::size_t> by_key;  // lower-case key -> entry
  };

  const Section* FindSection(std::string_view name) const;

  std::vector<Section> sections_;
  std::unordered_map<std::string, std::size_t> by_name_;  // lower-case name -> section
};

}  // namespace sentrel
