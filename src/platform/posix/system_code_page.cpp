#include "platform/system_code_page.h"

#include <cstdlib>
#include <string_view>

namespace sentrel {

namespace {

// The locale of text as the C library picks it: the first of these set.
std::string_view LocaleName() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

}  // namespace

int SystemCodePage() {
  const std::string_view locale = LocaleName();
  const std::string_view language = locale.substr(0, locale.find_first_of("_.@"));
  if (language.size() < 2 || language == "C" || language == "POSIX") return 0;
  // The ANSI code page Windows gives each language.
  for (const std::string_view cyrillic : {"ru", "uk", "be", "bg", "sr", "mk", "kk", "ky", "tg"}) {
    if (language == cyrillic) return 1251;
  }
  for (const std::string_view central : {"pl", "cs", "sk", "hu", "sl", "hr", "ro", "sq", "bs"}) {
    if (language == central) return 1250;
  }
  for (const std::string_view baltic : {"lt", "lv", "et"}) {
    if (language == baltic) return 1257;
  }
  if (language == "el") return 1253;
  if (language == "tr" || language == "az") return 1254;
  return 1252;
}

}  // namespace sentrel
