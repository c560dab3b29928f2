#include "platform/listen_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sentrel {

int OpenListeningSocket(const std::string& address, uint16_t port, bool ipv6,
                        std::string& error) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (ipv6) {
    auto* target = reinterpret_cast<sockaddr_in6*>(&storage);
    target->sin6_family = AF_INET6;
    target->sin6_port = htons(port);
    if (inet_pton(AF_INET6, address.c_str(), &target->sin6_addr) == 1) length = sizeof *target;
  } else {
    auto* target = reinterpret_cast<sockaddr_in*>(&storage);
    target->sin_family = AF_INET;
    target->sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &target->sin_addr) == 1) length = sizeof *target;
  }
  if (length == 0) {
    error = "not a numeric address";
    return -1;
  }
  const int fd = socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    error = std::strerror(errno);
    return -1;
  }
  const int on = 1;
  // A restart must not wait for the last run's connections to leave
  // TIME_WAIT; another listener on the port is still refused.
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (ipv6) {
    // Dual-stack only for the wildcard; a system that refuses it keeps the
    // socket to IPv6, which still serves.
    const int only = IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<sockaddr_in6*>(&storage)->sin6_addr) ? 0 : 1;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
  }
  if (bind(fd, reinterpret_cast<const sockaddr*>(&storage), length) != 0 || listen(fd, 64) != 0) {
    error = std::strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}

uint16_t ListeningPort(int socket) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return 0;
  return ntohs(storage.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
}

void CloseListeningSocket(int socket) {
  if (socket >= 0) close(socket);
}

void ShutdownConnection(int socket) { shutdown(socket, SHUT_RDWR); }

}  // namespace sentrel
