#pragma once

#include <chrono>
#include <cstddef>
#include <stop_token>
#include <string>
#include <string_view>

namespace sentrel {

// A blocking TCP client for line-oriented protocols, every wait bounded.
//
// Errors are errno numbers (never 0 after a failure): ETIMEDOUT when a wait
// ran out, EHOSTUNREACH when the host name does not resolve, ESRCH when the
// service name is unknown, EMSGSIZE when a line exceeds the length limit,
// ECONNRESET when the peer closed in the middle of a line, ENOTCONN when
// there is no connection, ECANCELED when the stop token was requested. A
// failed read or send closes the connection, since the stream position is no
// longer known; later calls fail at once.
//
// Not thread-safe; one owner at a time.
class TcpClient {
 public:
  // Longest line accepted, CR LF excluded. Far above the 512 bytes a
  // well-behaved SMTP reply needs, so only a broken or hostile peer hits it.
  static constexpr std::size_t kDefaultMaxLine = 8192;

  TcpClient() = default;
  ~TcpClient();
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  // Every later wait ends within kStopLatency once `stop` is requested, so
  // that leaving the program never waits out a reply time-out. A name lookup
  // in progress still runs to its own end.
  void SetStopToken(std::stop_token stop) { stop_ = std::move(stop); }
  static constexpr std::chrono::milliseconds kStopLatency{100};

  // Connects to `host` (name, IPv4 or IPv6 address) at `port` (decimal or a
  // service name such as "smtp"). Closes any previous connection first.
  // Every address of a name is tried in turn, IPv4 ones first; the attempts
  // wait at most `timeout` in all, each address at most an equal share of
  // what is left, so that one that never answers leaves time for the next.
  // A name lookup is bounded by the system resolver's own time-outs.
  bool Connect(const std::string& host, const std::string& port,
               std::chrono::milliseconds timeout);

  // Sends all of `text` within `timeout`.
  bool Send(std::string_view text, std::chrono::milliseconds timeout);

  // Reads one line ending in CR LF (a bare LF is accepted too) and returns it
  // without the line end. The whole line must arrive within `timeout`, and it
  // may be at most `maxLine` bytes long.
  bool ReadLine(std::string& line, std::chrono::milliseconds timeout,
                std::size_t maxLine = kDefaultMaxLine);

  void Close();
  // Closes the connection and records `error`: for a caller that found the
  // peer's data unusable.
  void Abort(int error);
  bool IsOpen() const { return fd_ >= 0; }
  // errno of the last failure, 0 after a success.
  int Error() const { return error_; }

 private:
  bool Fail(int error);

  int fd_ = -1;
  int error_ = 0;
  std::stop_token stop_;
  std::string buffer_;  // received bytes not yet returned as a line
};

// This computer's host name as the system reports it ("localhost" when it
// cannot be read).
std::string LocalHostName();

}  // namespace sentrel
