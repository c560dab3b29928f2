#include "platform/poll_wait.h"

#include <winsock2.h>

#include "platform/sockets.h"

namespace sentrel {

// Windows Sockets waits on sockets only, so the wake-up is a UDP socket on
// the loopback address that sends a byte to itself.
PollWait::PollWait() {
  StartSockets();
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return;
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof self;
  u_long nonBlocking = 1;
  if (bind(s, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&self), &length) != 0 ||
      connect(s, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0 ||
      ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    closesocket(s);
    return;
  }
  // Socket handles are small numbers that fit the descriptor field.
  wake_[0] = wake_[1] = static_cast<int>(s);
}

PollWait::~PollWait() {
  if (wake_[0] >= 0) closesocket(static_cast<SOCKET>(wake_[0]));
}

void PollWait::Wake() {
  const char byte = 1;
  if (wake_[1] >= 0) send(static_cast<SOCKET>(wake_[1]), &byte, 1, 0);
}

std::vector<int> PollWait::Wait(const std::vector<int>& fds, int timeoutMs) {
  std::vector<WSAPOLLFD> polled;
  if (wake_[0] >= 0) polled.push_back({static_cast<SOCKET>(wake_[0]), POLLRDNORM, 0});
  for (const int fd : fds) polled.push_back({static_cast<SOCKET>(fd), POLLRDNORM, 0});
  std::vector<int> readable;
  if (polled.empty()) {
    Sleep(static_cast<DWORD>(timeoutMs));
    return readable;
  }
  if (WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), timeoutMs) <= 0) return readable;
  for (const WSAPOLLFD& p : polled) {
    if (p.revents == 0) continue;
    if (static_cast<int>(p.fd) == wake_[0]) {
      char drain[64];
      while (recv(p.fd, drain, sizeof drain, 0) > 0) {
      }
    } else {
      readable.push_back(static_cast<int>(p.fd));
    }
  }
  return readable;
}

}  // namespace sentrel
