#include "platform/mailslot.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>


namespace sentrel {

RemoteMailslot::~RemoteMailslot() { Close(); }

void RemoteMailslot::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  localAddress_ = 0;
}

bool RemoteMailslot::Open(const std::string& computer) {
  Close();
  if (!IsValidMailslotComputer(computer)) return false;

  sockaddr_in target{};
  target.sin_family = AF_INET;
  const bool broadcast = computer == kAllComputers;
  if (broadcast) {
    if (inet_pton(AF_INET, broadcastAddress_.c_str(), &target.sin_addr) != 1) return false;
  } else {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(computer.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) return false;
    target = *reinterpret_cast<const sockaddr_in*>(list->ai_addr);
    freeaddrinfo(list);
  }
  target.sin_port = htons(port_);

  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  const int on = 1;
  if (broadcast && setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
    Close();
    return false;
  }
  if (port_ == kNetbiosDatagramPort) {
    // Windows sends from the datagram service's own port; that needs
    // privileges (and a free port), so an ephemeral port is the fallback.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kNetbiosDatagramPort);
    const int reuse = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local);
  }
  if (connect(fd_, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    Close();
    return false;
  }
  sockaddr_in self{};
  socklen_t len = sizeof self;
  if (getsockname(fd_, reinterpret_cast<sockaddr*>(&self), &len) == 0) {
    localAddress_ = self.sin_addr.s_addr;
  }
  return true;
}

bool RemoteMailslot::Write(const std::vector<uint8_t>& datagram) {
  if (fd_ < 0) return false;
  for (;;) {
    const ssize_t n = send(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return static_cast<std::size_t>(n) == datagram.size();
    if (errno != EINTR) return false;
  }
}

}  // namespace sentrel
