#include "platform/terminal.h"

#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

namespace sentrel {

std::string TerminalCharset() {
  // The user's locale without making it the process's own.
  const locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) return {};
  std::string charset = nl_langinfo_l(CODESET, locale);
  freelocale(locale);
  return charset;
}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

void WriteTerminalText(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

}  // namespace sentrel
