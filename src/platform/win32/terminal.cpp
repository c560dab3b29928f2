#include "platform/terminal.h"

#include <io.h>
#include <windows.h>
#include <shellapi.h>
#include <io.h>

#include <algorithm>

#include "platform/win32/text_wide.h"

namespace sentrel {

std::string TerminalCharset() { return "UTF-8"; }

void WriteTerminalText(std::FILE* stream, std::string_view text) {
  std::fflush(stream);
  // A program without a console (a service) may have no stream at all.
  const int fd = _fileno(stream);
  if (fd < 0) return;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD mode = 0;
  if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
    const std::wstring wide = Widen(text);
    std::wstring_view left = wide;
    while (!left.empty()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left.size(), 8192));
      if (!WriteConsoleW(handle, left.data(), chunk, &written, nullptr) || written == 0) break;
      left.remove_prefix(written);
    }
    return;
  }
  const UINT page = GetConsoleOutputCP();
  if (page == 0 || page == CP_UTF8 || text.empty()) {
    std::fwrite(text.data(), 1, text.size(), stream);
  } else {
    const std::wstring wide = Widen(text);
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(page, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string shown(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(page, 0, wide.data(), size, shown.data(), length, nullptr, nullptr);
    std::fwrite(shown.data(), 1, shown.size(), stream);
  }
  std::fflush(stream);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Narrow(wide[i]));
  LocalFree(wide);
  return arguments;
}

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

}  // namespace sentrel
