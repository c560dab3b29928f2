#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>

namespace sentrel {

// Why a TLS session could not be set up, or broke.
enum class TlsFailure {
  kNone,
  kCaFile,         // the extra CA file cannot be read or holds no certificate
  kExpired,        // a certificate of the chain has expired or is not valid yet
  kUnknownIssuer,  // the chain ends at no trusted certificate (self-signed included)
  kNameMismatch,   // the certificate names another server
  kCertificate,    // any other certificate fault (revoked, bad signature, wrong use)
  kHandshake,      // no common protocol or cipher, or the peer does not speak TLS
  kConnection,     // the connection failed or timed out under the session
};

// A refusal of the server's certificate (or of the trust that was asked
// for): sending again later cannot help until a person acts.
bool IsCertificateRefusal(TlsFailure failure);

// "certificate has expired", "name mismatch", ...: the reason as a log line
// names it.
std::string_view TlsFailureName(TlsFailure failure);

// Whom the session must reach.
struct TlsPeer {
  // Checked against the certificate: a host name (also sent as SNI) or an
  // IPv4 / IPv6 address, checked against the certificate's IP entries.
  std::string serverName;
  // A PEM file of certificates trusted in addition to the system's (an
  // internal CA, or a server's self-signed certificate); empty for none.
  std::string caFile;
};

// The server name without the brackets of an IPv6 literal ("[::1]").
std::string UnbracketedName(std::string_view name);
// Whether `name` (unbracketed) is an IPv4 dotted quad or an IPv6 address:
// such a peer is checked against the certificate's IP entries and gets no
// SNI, which carries names only (RFC 6066).
bool IsAddressLiteral(std::string_view name);

// What the handshake agreed, as the logs show it ("TLSv1.3",
// "TLS_AES_256_GCM_SHA384").
struct TlsSessionInfo {
  std::string version;
  std::string cipher;
};

// One TLS client session over a connected non-blocking socket, which stays
// the caller's to close. The certificate chain is always checked against the
// system's trusted certificates and the peer's extra CA file, and the
// server's name against the certificate; nothing turns this off. Every wait
// ends at `deadline`, or soon after `stop` is requested (ECANCELED). After a
// failure the session is unusable: Failure() says what went wrong, Error()
// gives an errno (EPROTO for a TLS fault, ETIMEDOUT, ECANCELED, ...) and
// Detail() the system's own words. Not thread-safe.
class TlsStream {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~TlsStream() = default;

  // The handshake with the certificate checks. Nothing has been sent in the
  // clear by it when it fails.
  virtual bool Handshake(Clock::time_point deadline, const std::stop_token& stop) = 0;
  // Sends all of `data`.
  virtual bool Send(std::string_view data, Clock::time_point deadline,
                    const std::stop_token& stop) = 0;
  // Waits for and returns some decrypted bytes: their number, 0 when the
  // peer ended the session or closed the connection, -1 on failure.
  virtual long Receive(char* data, std::size_t size, Clock::time_point deadline,
                       const std::stop_token& stop) = 0;
  // Says goodbye (close_notify) when that can be sent without waiting.
  virtual void Close() = 0;
  virtual TlsSessionInfo Session() const = 0;

  TlsFailure Failure() const { return failure_; }
  int Error() const { return error_; }
  const std::string& Detail() const { return detail_; }

 protected:
  bool Fail(TlsFailure failure, int error, std::string detail) {
    failure_ = failure;
    error_ = error;
    detail_ = std::move(detail);
    return false;
  }

 private:
  TlsFailure failure_ = TlsFailure::kNone;
  int error_ = 0;
  std::string detail_;
};

// A session of the system's TLS library on `socket` (OpenSSL on POSIX
// systems, Schannel on Windows). A CA file that cannot be read shows as
// Failure() kCaFile at the handshake, before anything is sent.
std::unique_ptr<TlsStream> MakeTlsStream(int socket, TlsPeer peer);

}  // namespace sentrel
