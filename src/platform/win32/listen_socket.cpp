#include "platform/listen_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/sockets.h"
#include "platform/win32/registry_access.h"

namespace sentrel {

// Socket handles are small numbers that fit the descriptor type.
int OpenListeningSocket(const std::string& address, uint16_t port, bool ipv6,
                        std::string& error) {
  StartSockets();
  sockaddr_storage storage{};
  int length = 0;
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
  const SOCKET s = WSASocketW(storage.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                              WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    error = SystemErrorText(static_cast<DWORD>(WSAGetLastError()));
    return -1;
  }
  // On Windows SO_REUSEADDR would let another program take the port from
  // under us; exclusive use keeps it ours (and a restart may bind at once
  // there anyway).
  const BOOL on = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
  if (ipv6) {
    // Dual-stack only for the wildcard; any other IPv6 address serves IPv6.
    const BOOL only = IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<sockaddr_in6*>(&storage)->sin6_addr) ? FALSE : TRUE;
    setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&only), sizeof only);
  }
  u_long nonBlocking = 1;
  if (bind(s, reinterpret_cast<const sockaddr*>(&storage), length) != 0 || listen(s, 64) != 0 ||
      ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    error = SystemErrorText(static_cast<DWORD>(WSAGetLastError()));
    closesocket(s);
    return -1;
  }
  return static_cast<int>(s);
}

uint16_t ListeningPort(int socket) {
  sockaddr_storage storage{};
  int length = sizeof storage;
  auto* address = reinterpret_cast<sockaddr*>(&storage);
  if (getsockname(static_cast<SOCKET>(socket), address, &length) != 0) return 0;
  return ntohs(storage.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
}

void CloseListeningSocket(int socket) {
  if (socket >= 0) closesocket(static_cast<SOCKET>(socket));
}

void ShutdownConnection(int socket) { shutdown(static_cast<SOCKET>(socket), SD_BOTH); }

}  // namespace sentrel
