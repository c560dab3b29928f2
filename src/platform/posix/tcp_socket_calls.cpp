#include "platform/tcp_socket_calls.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace sentrel::tcp {

int WaitFor(int fd, bool forWriting, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
    const int n = poll(&p, 1, MillisecondsLeft(deadline));
    if (n > 0) return 0;
    if (n == 0) return ETIMEDOUT;
    if (errno != EINTR) return errno;
  }
}

int Resolve(const char* host, const char* port, addrinfo** result) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  int rc = getaddrinfo(host, port, &hints, result);
  if (rc == EAI_SERVICE) {
    if (const char* known = WellKnownPort(port)) rc = getaddrinfo(host, known, &hints, result);
  }
  if (rc == 0) return 0;
  if (rc == EAI_SERVICE) return ESRCH;
  if (rc == EAI_SYSTEM && errno != 0) return errno;
  return EHOSTUNREACH;
}

int ConnectOne(const addrinfo& ai, Clock::time_point deadline, const std::stop_token& stop,
               int& error) {
  const int fd = socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                        ai.ai_protocol);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  if (connect(fd, ai.ai_addr, ai.ai_addrlen) != 0) {
    if (errno != EINPROGRESS) {
      error = errno;
      close(fd);
      return -1;
    }
    error = WaitOrStop(fd, true, deadline, stop);
    if (error == 0) {
      socklen_t len = sizeof error;
      if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
    }
    if (error != 0) {
      close(fd);
      return -1;
    }
  }
  error = 0;
  return fd;
}

// Interrupted calls are tried again at once; a full or empty socket asks for
// a wait.
long SendSome(int fd, const char* data, std::size_t size, int& error) {
  for (;;) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    error = (errno == EWOULDBLOCK) ? EAGAIN : errno;
    return -1;
  }
}

long ReceiveSome(int fd, char* data, std::size_t size, int& error) {
  for (;;) {
    const ssize_t n = recv(fd, data, size, 0);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    error = (errno == EWOULDBLOCK) ? EAGAIN : errno;
    return -1;
  }
}

void CloseSocket(int fd) { close(fd); }

}  // namespace sentrel::tcp
