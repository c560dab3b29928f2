#include "platform/tcp_socket_calls.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cerrno>

namespace sentrel::tcp {

namespace {

// The errno that callers know for a Windows Sockets error.
int ErrnoFromWsa(int error) {
  switch (error) {
    case WSAETIMEDOUT: return ETIMEDOUT;
    case WSAECONNREFUSED: return ECONNREFUSED;
    case WSAECONNRESET:
    case WSAECONNABORTED: return ECONNRESET;
    case WSAENETUNREACH:
    case WSAENETDOWN: return ENETUNREACH;
    case WSAEHOSTUNREACH:
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA: return EHOSTUNREACH;
    case WSAENOTCONN: return ENOTCONN;
    case WSAEADDRNOTAVAIL: return EADDRNOTAVAIL;
    case WSAEMSGSIZE: return EMSGSIZE;
    case WSANOTINITIALISED: return ENOTCONN;
    default: return EIO;
  }
}

int LastError() { return ErrnoFromWsa(WSAGetLastError()); }


SOCKET Socket(int fd) { return static_cast<SOCKET>(fd); }

}  // namespace

// select, not WSAPoll: before Windows 10 2004 WSAPoll never reports a
// connect that failed, so a refusing server would look like one that does
// not answer. select names a failed connect in its exception set on every
// version; the caller then reads the reason from SO_ERROR.
int WaitFor(int fd, bool forWriting, Clock::time_point deadline) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(Socket(fd), &ready);
  FD_SET(Socket(fd), &failed);
  const int ms = MillisecondsLeft(deadline);
  timeval wait{ms / 1000, ms % 1000 * 1000};
  const int n = forWriting ? select(0, nullptr, &ready, &failed, &wait)
                           : select(0, &ready, nullptr, nullptr, &wait);
  if (n > 0) return 0;
  if (n == 0) return ETIMEDOUT;
  return LastError();
}

int Resolve(const char* host, const char* port, addrinfo** result) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  int rc = getaddrinfo(host, port, &hints, result);
  if (rc == EAI_SERVICE || rc == WSATYPE_NOT_FOUND) {
    if (const char* known = WellKnownPort(port)) rc = getaddrinfo(host, known, &hints, result);
  }
  if (rc == 0) return 0;
  if (rc == EAI_SERVICE || rc == WSATYPE_NOT_FOUND) return ESRCH;
  if (rc == WSANOTINITIALISED) return ENOTCONN;
  return EHOSTUNREACH;
}

// Socket handles are small numbers that fit the descriptor field.
int ConnectOne(const addrinfo& ai, Clock::time_point deadline, const std::stop_token& stop,
               int& error) {
  const SOCKET s = WSASocketW(ai.ai_family, ai.ai_socktype, ai.ai_protocol, nullptr, 0,
                              WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    error = LastError();
    return -1;
  }
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  if (connect(s, ai.ai_addr, static_cast<int>(ai.ai_addrlen)) != 0) {
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
      error = LastError();
      closesocket(s);
      return -1;
    }
    error = WaitOrStop(static_cast<int>(s), true, deadline, stop);
    if (error == 0) {
      int soError = 0;
      int len = sizeof soError;
      if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len) != 0) {
        error = LastError();
      } else if (soError != 0) {
        error = ErrnoFromWsa(soError);
      }
    }
    if (error != 0) {
      closesocket(s);
      return -1;
    }
  }
  error = 0;
  return static_cast<int>(s);
}

long SendSome(int fd, const char* data, std::size_t size, int& error) {
  const int n = send(Socket(fd), data, static_cast<int>(std::min<std::size_t>(size, 1u << 20)), 0);
  if (n >= 0) return n;
  error = WSAGetLastError() == WSAEWOULDBLOCK ? EAGAIN : LastError();
  return -1;
}

long ReceiveSome(int fd, char* data, std::size_t size, int& error) {
  const int n = recv(Socket(fd), data, static_cast<int>(std::min<std::size_t>(size, 1u << 20)), 0);
  if (n >= 0) return n;
  error = WSAGetLastError() == WSAEWOULDBLOCK ? EAGAIN : LastError();
  return -1;
}

void CloseSocket(int fd) { closesocket(Socket(fd)); }

}  // namespace sentrel::tcp

