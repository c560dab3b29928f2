#include "settings/language_text.h"

#include "common/lenient_int.h"
#include "common/text.h"
#include "settings/code_page.h"
#include "settings/ini_file.h"
#include "settings/text_model.h"
#include "settings/utf8_text.h"

namespace sentrel {

namespace {

// The code page that the file names for itself, or 0.
int NamedCodePage(std::string_view bytes) {
  // The section and key names are ASCII, which every code page shares, so
  // the raw bytes can be read as INI before they are decoded.
  const auto named = IniFile::Parse(bytes).Get("Language", "CodePage");
  if (!named) return 0;
  // Blanks inside quotes are kept by the INI rules; a number does not need them.
  const int code_page = ParseLenientInt(TrimBlanks(*named));
  return IsKnownCodePage(code_page) ? code_page : 0;
}

}  // namespace

LanguageText DecodeLanguageText(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Bom)) {
    return {RepairUtf8(bytes.substr(kUtf8Bom.size())), kUtf8CodePage};
  }
  if (IsValidUtf8(bytes)) return {std::string(bytes), kUtf8CodePage};
  int code_page = NamedCodePage(bytes);
  const bool named = code_page != 0;
  if (!named) {
    const Utf8Census census = CountUtf8(bytes);
    if (census.multibyte > census.invalid) return {RepairUtf8(bytes), kUtf8CodePage};
    code_page = DetectCodePage(bytes);
  }
  return {DecodeOutsideText(bytes, code_page), code_page, named};
}

LanguageCodePage ImpliedCodePage(const LanguageText& text) {
  if (text.code_page != kUtf8CodePage) return {text.code_page, text.named};
  return {HasCyrillic(text.utf8) ? 1251 : 0, false};
}

}  // namespace sentrel
