#include "platform/tcp_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace sentrel {

namespace {

using Clock = std::chrono::steady_clock;

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

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<long long>(left, 24LL * 3600 * 1000));
}

// Waits until `s` is ready for `events` or the deadline passes. Returns 0 when
// ready, else the errno to report.
int WaitFor(SOCKET s, short events, Clock::time_point deadline) {
  WSAPOLLFD p{s, events, 0};
  const int n = WSAPoll(&p, 1, MillisecondsLeft(deadline));
  if (n > 0) return 0;
  if (n == 0) return ETIMEDOUT;
  return LastError();
}

const char* WellKnownPort(const std::string& service) {
  if (service == "smtp") return "25";
  if (service == "submission") return "587";
  return nullptr;
}

int Resolve(const std::string& host, const std::string& port, addrinfo** result) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, result);
  if (rc == EAI_SERVICE || rc == WSATYPE_NOT_FOUND) {
    if (const char* known = WellKnownPort(port)) rc = getaddrinfo(host.c_str(), known, &hints, result);
  }
  if (rc == 0) return 0;
  if (rc == EAI_SERVICE || rc == WSATYPE_NOT_FOUND) return ESRCH;
  if (rc == WSANOTINITIALISED) return ENOTCONN;
  return EHOSTUNREACH;
}

// One non-blocking connect attempt; returns the socket or INVALID_SOCKET with
// `error` set.
SOCKET ConnectOne(const addrinfo& ai, Clock::time_point deadline, int& error) {
  const SOCKET s = WSASocketW(ai.ai_family, ai.ai_socktype, ai.ai_protocol, nullptr, 0,
                              WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    error = LastError();
    return s;
  }
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  if (connect(s, ai.ai_addr, static_cast<int>(ai.ai_addrlen)) != 0) {
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
      error = LastError();
      closesocket(s);
      return INVALID_SOCKET;
    }
    error = WaitFor(s, POLLOUT, deadline);
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
      return INVALID_SOCKET;
    }
  }
  error = 0;
  return s;
}

SOCKET Socket(int fd) { return static_cast<SOCKET>(fd); }

}  // namespace

TcpClient::~TcpClient() { Close(); }

void TcpClient::Close() {
  if (fd_ >= 0) closesocket(Socket(fd_));
  fd_ = -1;
  buffer_.clear();
}

void TcpClient::Abort(int error) { Fail(error); }

bool TcpClient::Fail(int error) {
  Close();
  error_ = error != 0 ? error : EIO;
  return false;
}

bool TcpClient::Connect(const std::string& host, const std::string& port,
                        std::chrono::milliseconds timeout) {
  Close();
  const auto deadline = Clock::now() + timeout;
  addrinfo* list = nullptr;
  if (const int rc = Resolve(host, port, &list); rc != 0) return Fail(rc);

  std::vector<const addrinfo*> candidates;
  for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) candidates.push_back(ai);
  std::stable_partition(candidates.begin(), candidates.end(),
                        [](const addrinfo* ai) { return ai->ai_family == AF_INET; });

  int error = EHOSTUNREACH;
  for (const addrinfo* ai : candidates) {
    if (Clock::now() >= deadline) {
      error = ETIMEDOUT;
      break;
    }
    // Socket handles are small numbers that fit the descriptor field.
    const SOCKET s = ConnectOne(*ai, deadline, error);
    if (s != INVALID_SOCKET) {
      fd_ = static_cast<int>(s);
      break;
    }
  }
  freeaddrinfo(list);
  if (fd_ < 0) return Fail(error);
  error_ = 0;
  return true;
}

bool TcpClient::Send(std::string_view text, std::chrono::milliseconds timeout) {
  if (fd_ < 0) return Fail(ENOTCONN);
  const auto deadline = Clock::now() + timeout;
  while (!text.empty()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(text.size(), 1u << 20));
    const int n = send(Socket(fd_), text.data(), chunk, 0);
    if (n > 0) {
      text.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
      if (const int rc = WaitFor(Socket(fd_), POLLOUT, deadline); rc != 0) return Fail(rc);
      continue;
    }
    return Fail(n < 0 ? LastError() : EIO);
  }
  error_ = 0;
  return true;
}

bool TcpClient::ReadLine(std::string& line, std::chrono::milliseconds timeout,
                         std::size_t maxLine) {
  line.clear();
  if (fd_ < 0) return Fail(ENOTCONN);
  const auto deadline = Clock::now() + timeout;
  std::size_t searched = 0;
  for (;;) {
    const std::size_t lf = buffer_.find('\n', searched);
    if (lf != std::string::npos) {
      std::size_t end = lf;
      if (end > 0 && buffer_[end - 1] == '\r') --end;
      if (end > maxLine) return Fail(EMSGSIZE);
      line.assign(buffer_, 0, end);
      buffer_.erase(0, lf + 1);
      error_ = 0;
      return true;
    }
    searched = buffer_.size();
    // +1 leaves room for the CR of a line that is exactly maxLine long.
    if (buffer_.size() > maxLine + 1) return Fail(EMSGSIZE);

    if (const int rc = WaitFor(Socket(fd_), POLLIN, deadline); rc != 0) return Fail(rc);
    char chunk[4096];
    const std::size_t room = std::min(sizeof chunk, maxLine + 2 - buffer_.size());
    const int n = recv(Socket(fd_), chunk, static_cast<int>(room), 0);
    if (n > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0) {
      return Fail(ECONNRESET);
    } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
      return Fail(LastError());
    }
  }
}

std::string LocalHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

}  // namespace sentrel
