#include "platform/tcp_client.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/tcp_socket_calls.h"

namespace sentrel {

using tcp::Clock;

int tcp::MillisecondsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<long long>(left, 24LL * 3600 * 1000));
}

const char* tcp::WellKnownPort(const char* service) {
  if (std::string_view(service) == "smtp") return "25";
  if (std::string_view(service) == "submission") return "587";
  return nullptr;
}

int tcp::WaitOrStop(int fd, bool forWriting, Clock::time_point deadline,
                    const std::stop_token& stop) {
  if (!stop.stop_possible()) return WaitFor(fd, forWriting, deadline);
  for (;;) {
    if (stop.stop_requested()) return ECANCELED;
    const auto now = Clock::now();
    if (now >= deadline) return ETIMEDOUT;
    const int rc = WaitFor(fd, forWriting, std::min(deadline, now + TcpClient::kStopLatency));
    if (rc != ETIMEDOUT) return rc;
  }
}

TcpClient::~TcpClient() { Close(); }

void TcpClient::Close() {
  if (fd_ >= 0) tcp::CloseSocket(fd_);
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
  if (const int rc = tcp::Resolve(host.c_str(), port.c_str(), &list); rc != 0) return Fail(rc);

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
    fd_ = tcp::ConnectOne(*candidates[i], now + share, stop_, error);
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
    int error = 0;
    const long n = tcp::SendSome(fd_, text.data(), text.size(), error);
    if (n > 0) {
      text.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && error == EAGAIN) {
      if (const int rc = tcp::WaitOrStop(fd_, true, deadline, stop_); rc != 0) return Fail(rc);
      continue;
    }
    return Fail(n < 0 ? error : EIO);
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

    if (const int rc = tcp::WaitOrStop(fd_, false, deadline, stop_); rc != 0) return Fail(rc);
    char chunk[4096];
    const std::size_t room = std::min(sizeof chunk, maxLine + 2 - buffer_.size());
    int error = 0;
    const long n = tcp::ReceiveSome(fd_, chunk, room, error);
    if (n > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0) {
      return Fail(ECONNRESET);
    } else if (error != EAGAIN) {
      return Fail(error);
    }
  }
}

std::string LocalHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

}  // namespace sentrel
