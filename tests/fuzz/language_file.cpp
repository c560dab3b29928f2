// Fuzz target: the language files, INI text that translators write with any
// editor in UTF-8 or an 8-bit code page. Any bytes give a file whose texts
// are valid UTF-8 and reachable through the names it lists.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "fuzz_support.h"
#include "settings/code_page.h"
#include "settings/ini_file.h"
#include "settings/language_files.h"
#include "settings/language_table.h"
#include "settings/language_text.h"
#include "settings/utf8_text.h"

namespace {

using namespace sentrel;

// Counts characters the way the reader cuts values: every byte that is not a
// continuation byte starts one.
std::size_t Characters(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return count;
}

// Every section and key that the file lists is found under its own name and
// in upper case, and no name is listed twice.
void CheckLookups(const IniFile& file, bool utf8) {
  const std::vector<std::string> sections = file.Sections();
  for (std::size_t i = 0; i < sections.size(); ++i) {
    FUZZ_CHECK(file.HasSection(sections[i]));
    for (std::size_t j = 0; j < i; ++j) FUZZ_CHECK(!EqualsIgnoringCase(sections[i], sections[j]));
    const std::vector<std::string> keys = file.Keys(sections[i]);
    for (std::size_t k = 0; k < keys.size(); ++k) {
      const std::optional<std::string> value = file.Get(sections[i], keys[k]);
      FUZZ_CHECK(value.has_value());
      FUZZ_CHECK(file.Get(AsciiLower(sections[i]), AsciiLower(keys[k])) == value);
      FUZZ_CHECK(Characters(*value) <= IniFile::kMaxValueLength);
      FUZZ_CHECK(!keys[k].empty());
      if (utf8) FUZZ_CHECK(IsValidUtf8(*value) && IsValidUtf8(keys[k]));
      for (std::size_t j = 0; j < k; ++j) FUZZ_CHECK(!EqualsIgnoringCase(keys[k], keys[j]));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const LanguageText text = DecodeLanguageText(bytes);
  FUZZ_CHECK(IsValidUtf8(text.utf8));
  FUZZ_CHECK(text.code_page == kUtf8CodePage || IsKnownCodePage(text.code_page));
  // Valid UTF-8 is taken as it is, less a byte order mark in front.
  if (IsValidUtf8(bytes)) {
    FUZZ_CHECK(text.code_page == kUtf8CodePage);
    FUZZ_CHECK(text.utf8 == (bytes.starts_with(kUtf8Bom) ? bytes.substr(kUtf8Bom.size()) : bytes));
  }

  // The reader as the windows use it, from a file.
  static const std::string path = fuzz::ScratchFolder() + "/Fuzz.lng";
  fuzz::WriteWhole(path, bytes);
  const std::optional<IniFile> file = LoadLanguageFile(path);
  FUZZ_CHECK(file.has_value());
  CheckLookups(*file, true);
  for (const LanguageWindow window : {LanguageWindow::kMainForm, LanguageWindow::kHostForm,
                                      LanguageWindow::kOptionsForm,
                                      LanguageWindow::kPasswordForm,
                                      LanguageWindow::kHistoryForm}) {
    for (const CaptionRead& read : WindowCaptions(window)) {
      FUZZ_CHECK(IsValidUtf8(CaptionText(file, read.section, read.caption->key)));
    }
  }
  for (const CaptionList list : {CaptionList::kPingBy, CaptionList::kCheckEvery,
                                 CaptionList::kLogDetail, CaptionList::kSendEvery}) {
    for (const std::string& item : ListCaptions(file, list)) FUZZ_CHECK(IsValidUtf8(item));
  }

  // The INI reader alone takes any bytes, decoded or not.
  CheckLookups(IniFile::Parse(bytes), false);
  return 0;
}
