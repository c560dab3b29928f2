#include "platform/write_all.h"

#include <io.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace sentrel {

int WriteAll(int fd, std::string_view bytes, WhenNothingWritten whenNothing) {
  while (!bytes.empty()) {
    // The C runtime writes at most INT_MAX bytes at once.
    const auto chunk = static_cast<unsigned>(std::min<std::size_t>(bytes.size(), INT_MAX));
    const int n = _write(fd, bytes.data(), chunk);
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
