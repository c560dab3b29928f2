#include "platform/terminal.h"

#include <io.h>
#include <windows.h>

namespace sentrel {

// A console shows text in its output code page; UTF-8 is 65001.
std::string TerminalCharset() {
  const UINT page = GetConsoleOutputCP();
  if (page == 0) return {};
  if (page == CP_UTF8) return "UTF-8";
  return "CP" + std::to_string(page);
}

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

}  // namespace sentrel
