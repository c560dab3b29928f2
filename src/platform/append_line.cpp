#include "platform/append_line.h"

#include "platform/write_all.h"

namespace sentrel {

void AppendLine(const std::string& file, std::string_view line, unsigned mode) {
  const int fd = OpenForAppending(file, mode);
  if (fd < 0) return;
  std::string text(line);
  text += "\r\n";
  // Opened for appending, every write goes to the end, also with another writer.
  WriteAll(fd, text, WhenNothingWritten::GiveUp);
  CloseAppending(fd);
}

}  // namespace sentrel
