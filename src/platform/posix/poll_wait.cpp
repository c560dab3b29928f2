#include "platform/poll_wait.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace sentrel {

PollWait::PollWait() {
  if (pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
}

PollWait::~PollWait() {
  for (const int fd : wake_) {
    if (fd >= 0) close(fd);
  }
}

void PollWait::Wake() {
  const char byte = 1;
  if (wake_[1] >= 0) (void)!write(wake_[1], &byte, 1);
}

std::vector<int> PollWait::Wait(const std::vector<int>& fds, int timeoutMs) {
  std::vector<pollfd> polled{{wake_[0], POLLIN, 0}};
  for (const int fd : fds) polled.push_back({fd, POLLIN, 0});
  std::vector<int> readable;
  if (poll(polled.data(), polled.size(), timeoutMs) <= 0) return readable;
  if (polled[0].revents != 0) {
    char drain[64];
    while (read(wake_[0], drain, sizeof drain) > 0) {
    }
  }
  for (std::size_t i = 1; i < polled.size(); ++i) {
    if (polled[i].revents != 0) readable.push_back(polled[i].fd);
  }
  return readable;
}

}  // namespace sentrel
