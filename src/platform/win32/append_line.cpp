#include "platform/append_line.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "platform/win32/text_wide.h"
#include "platform/write_all.h"

namespace sentrel {

// Windows files have no permission bits of this kind: a file in the user's
// own folders is the user's. `mode` only decides whether the file is created
// read-only, which it never asks for.
int OpenForAppending(const std::string& file, unsigned mode) {
  const int permission = (mode & 0200) ? (_S_IREAD | _S_IWRITE) : _S_IREAD;
  return _wopen(Widen(file).c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                permission);
}

void CloseAppending(int fd) {
  if (fd >= 0) _close(fd);
}

void AppendLine(const std::string& file, std::string_view line, unsigned mode) {
  const int fd = OpenForAppending(file, mode);
  if (fd < 0) return;
  std::string text(line);
  text += "\r\n";
  WriteAll(fd, text, WhenNothingWritten::GiveUp);
  CloseAppending(fd);
}

}  // namespace sentrel
