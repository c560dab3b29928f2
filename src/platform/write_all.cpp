#include "platform/write_all.h"

#include <cerrno>

#include "platform/file_io.h"

namespace sentrel {

int WriteAll(int fd, std::string_view bytes, WhenNothingWritten whenNothing) {
  while (!bytes.empty()) {
    const long n = WriteSome(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0 && whenNothing == WhenNothingWritten::GiveUp) return -1;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

}  // namespace sentrel
