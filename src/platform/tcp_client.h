#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>

#include "platform/tls_stream.h"

namespace sentrel {

// A blocking TCP client for line-oriented protocols, every wait bounded.
//
// Errors are errno numbers (never 0 after a failure): ETIMEDOUT when a wait
// ran out, EHOSTUNREACH when the host name does not resolve, ESRCH when the
// service name is unknown, EMSGSIZE when a line exceeds the length limit,
// ECONNRESET when the peer closed in the middle of a line, ENOTCONN when
// there is no connection, ECANCELED when the stop token was requested,
// EPROTO for a TLS fault (TlsFault() says which). A
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

  // Appends to `data` what has arrived, at most `most` bytes, waiting
  // within `timeout` for some when nothing is there yet. The end of the
  // stream fails with ECONNRESET, as in ReadLine.
  bool ReadSome(std::string& data, std::size_t most, std::chrono::milliseconds timeout);

  // Turns the open connection into a TLS session (StartTls of a protocol,
  // or TLS from the first byte right after Connect): the handshake and the
  // certificate checks within `timeout`. Later sends and reads go through
  // the session. Bytes that arrived in the clear and were not read yet
  // make it fail (EPROTO): they could pass as protected replies. A failure
  // closes the connection; TlsFault() and TlsDetail() then say why.
  bool StartTls(const TlsPeer& peer, std::chrono::milliseconds timeout);
  bool Encrypted() const { return tls_ != nullptr; }
  // What the handshake agreed; empty texts in the clear.
  TlsSessionInfo TlsSession() const;
  // The TLS fault of the last failure (kNone for a failure in the clear),
  // and the system's words for it; kept until the next Connect.
  TlsFailure TlsFault() const { return tlsFault_; }
  const std::string& TlsDetail() const { return tlsDetail_; }

  void Close();
  // Closes the connection and records `error`: for a caller that found the
  // peer's data unusable.
  void Abort(int error);
  bool IsOpen() const { return fd_ >= 0; }
  // errno of the last failure, 0 after a success.
  int Error() const { return error_; }

 private:
  bool Fail(int error);
  // Takes the stream's fault over and fails with its errno.
  bool FailTls();
  // Some received bytes into buffer_: 0 when done, else the errno.
  int ReceiveMore(std::size_t room, std::chrono::steady_clock::time_point deadline);

  int fd_ = -1;
  std::unique_ptr<TlsStream> tls_;
  TlsFailure tlsFault_ = TlsFailure::kNone;
  std::string tlsDetail_;
  int error_ = 0;
  std::stop_token stop_;
  std::string buffer_;  // received bytes not yet returned as a line
};

// This computer's host name as the system reports it ("localhost" when it
// cannot be read).
std::string LocalHostName();

}  // namespace sentrel
