#include "common/append_line.h"

#include <fcntl.h>
#include <unistd.h>

#include "common/write_all.h"

namespace sentrel {

void AppendLine(const std::string& file, std::string_view line, unsigned mode) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                        static_cast<mode_t>(mode & 07777));
  if (fd < 0) return;
  std::string text(line);
  text += "\r\n";
  // O_APPEND puts every write at the end, also with another writer.
  WriteAll(fd, text, WhenNothingWritten::GiveUp);
  ::close(fd);
}

}  // namespace sentrel
