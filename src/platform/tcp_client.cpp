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
  if (tls_) {
    tls_->Close();
    tls_.reset();
  }
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

bool TcpClient::FailTls() {
  tlsFault_ = tls_->Failure();
  tlsDetail_ = tls_->Detail();
  return Fail(tls_->Error());
}

TlsSessionInfo TcpClient::TlsSession() const { return tls_ ? tls_->Session() : TlsSessionInfo{}; }

bool TcpClient::StartTls(const TlsPeer& peer, std::chrono::milliseconds timeout) {
  if (fd_ < 0) return Fail(ENOTCONN);
  if (!buffer_.empty()) {
    // A reply sent ahead of the handshake was written by whoever sits in
    // the clear path, not necessarily by the server.
    tlsFault_ = TlsFailure::kHandshake;
    tlsDetail_ = "data received in the clear ahead of the handshake";
    return Fail(EPROTO);
  }
  tls_ = MakeTlsStream(fd_, peer);
  if (!tls_->Handshake(Clock::now() + timeout, stop_)) return FailTls();
  error_ = 0;
  return true;
}

bool TcpClient::Connect(const std::string& host, const std::string& port,
                        std::chrono::milliseconds timeout) {
  Close();
  tlsFault_ = TlsFailure::kNone;
  tlsDetail_.clear();
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
  if (tls_) {
    if (!tls_->Send(text, deadline, stop_)) return FailTls();
    error_ = 0;
    return true;
  }
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

    if (const int rc = ReceiveMore(maxLine + 2 - buffer_.size(), deadline); rc != 0) {
      return tls_ && rc != ECONNRESET ? FailTls() : Fail(rc);
    }
  }
}

bool TcpClient::ReadSome(std::string& data, std::size_t most, std::chrono::milliseconds timeout) {
  if (fd_ < 0) return Fail(ENOTCONN);
  if (buffer_.empty()) {
    if (const int rc = ReceiveMore(most, Clock::now() + timeout); rc != 0) {
      return tls_ && rc != ECONNRESET ? FailTls() : Fail(rc);
    }
  }
  const std::size_t n = std::min(most, buffer_.size());
  data.append(buffer_, 0, n);
  buffer_.erase(0, n);
  error_ = 0;
  return true;
}

int TcpClient::ReceiveMore(std::size_t room, Clock::time_point deadline) {
  char chunk[4096];
  room = std::min(sizeof chunk, room);
  if (tls_) {
    // The session may hold decrypted bytes already: it waits by itself.
    const long n = tls_->Receive(chunk, room, deadline, stop_);
    if (n > 0) buffer_.append(chunk, static_cast<std::size_t>(n));
    return n > 0 ? 0 : n == 0 ? ECONNRESET : tls_->Error();
  }
  for (;;) {
    if (const int rc = tcp::WaitOrStop(fd_, false, deadline, stop_); rc != 0) return rc;
    int error = 0;
    const long n = tcp::ReceiveSome(fd_, chunk, room, error);
    if (n > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(n));
      return 0;
    }
    if (n == 0) return ECONNRESET;
    if (error != EAGAIN) return error;
  }
}

std::string LocalHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

}  // namespace sentrel
