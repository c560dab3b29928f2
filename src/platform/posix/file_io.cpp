#include <fcntl.h>
#include <unistd.h>

#include "platform/append_line.h"
#include "platform/file_io.h"

namespace sentrel {

long WriteSome(int fd, const char* data, std::size_t size) { return ::write(fd, data, size); }

int OpenForAppending(const std::string& file, unsigned mode) {
  return ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                static_cast<mode_t>(mode & 07777));
}

void CloseAppending(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace sentrel
