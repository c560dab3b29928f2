#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>

#include "platform/append_line.h"
#include "platform/file_io.h"
#include "platform/win32/text_wide.h"

namespace sentrel {

// The C runtime writes at most INT_MAX bytes at once.
long WriteSome(int fd, const char* data, std::size_t size) {
  return _write(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX)));
}

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

}  // namespace sentrel
