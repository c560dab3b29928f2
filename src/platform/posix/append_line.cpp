#include "platform/append_line.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/write_all.h"

namespace sentrel {

int OpenForAppending(const std::string& file, unsigned mode) {
  return ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                static_cast<mode_t>(mode & 07777));
}

void CloseAppending(int fd) {
  if (fd >= 0) ::close(fd);
}

void AppendLine(const std::string& file, std::string_view line, unsigned mode) {
  const int fd = OpenForAppending(file, mode);
  if (fd < 0) return;
  std::string text(line);
  text += "\r\n";
  // O_APPEND puts every write at the end, also with another writer.
  WriteAll(fd, text, WhenNothingWritten::GiveUp);
  CloseAppending(fd);
}

}  // namespace sentrel
