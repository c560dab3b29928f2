#include "platform/tcp_client.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace sentrel {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, for poll(); 0 once it has passed.
int MillisecondsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<long long>(left, 24LL * 3600 * 1000));
}

// Waits until `fd` is ready for `events`, the deadline passes or `stop` is
// requested, which is looked at every `slice`. Returns 0 when ready, else
// the errno to report.
int WaitFor(int fd, short events, Clock::time_point deadline, const std::stop_token& stop,
            std::chrono::milliseconds slice) {
  for (;;) {
    if (stop.stop_requested()) return ECANCELED;
    const int left = MillisecondsLeft(deadline);
    const int wait = stop.stop_possible() ? std::min<int>(left, static_cast<int>(slice.count())) : left;
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, wait);
    if (n > 0) return 0;
    if (n == 0 && Clock::now() >= deadline) return ETIMEDOUT;
    if (n < 0 && errno != EINTR) return errno;
  }
}

// Machines without /etc/services still know the one service the program asks
// for by name.
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
  if (rc == EAI_SERVICE) {
    if (const char* known = WellKnownPort(port)) {
      rc = getaddrinfo(host.c_str(), known, &hints, result);
    }
  }
  if (rc == 0) return 0;
  if (rc == EAI_SERVICE) return ESRCH;
  if (rc == EAI_SYSTEM && errno != 0) return errno;
  return EHOSTUNREACH;
}

// One non-blocking connect attempt; returns the socket or -1 with `error` set.
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
    error = WaitFor(fd, POLLOUT, deadline, stop, TcpClient::kStopLatency);
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

}  // namespace

TcpClient::~TcpClient() { Close(); }

int TcpClient::WaitFor(short events, Clock::time_point deadline) const {
  return sentrel::WaitFor(fd_, events, deadline, stop_, kStopLatency);
}

void TcpClient::Close() {
  if (fd_ >= 0) close(fd_);
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
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const auto now = Clock::now();
    if (now >= deadline) {
      error = ETIMEDOUT;
      break;
    }
    const auto share = (deadline - now) / static_cast<long>(candidates.size() - i);
    fd_ = ConnectOne(*candidates[i], now + share, stop_, error);
    if (error == ECANCELED) break;
    if (fd_ >= 0) break;
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
    const ssize_t n = send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
    if (n > 0) {
      text.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (const int rc = WaitFor(POLLOUT, deadline); rc != 0) return Fail(rc);
      continue;
    }
    return Fail(n < 0 ? errno : EIO);
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

    if (const int rc = WaitFor(POLLIN, deadline); rc != 0) return Fail(rc);
    char chunk[4096];
    const std::size_t room = std::min(sizeof chunk, maxLine + 2 - buffer_.size());
    const ssize_t n = recv(fd_, chunk, room, 0);
    if (n > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0) {
      return Fail(ECONNRESET);
    } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      return Fail(errno);
    }
  }
}

std::string LocalHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

}  // namespace sentrel
