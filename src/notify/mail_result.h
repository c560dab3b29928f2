#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/tls_stream.h"

namespace sentrel {

// How a mail went: accepted, worth another try later, or refused for good.
enum class MailStatus {
  kAccepted,
  kRetryable,  // a 4xx reply, a connection that failed or broke, a time-out
  kPermanent,  // a 5xx reply, a refused certificate, no STARTTLS where it is required
};

// Where a transfer stopped.
enum class MailFailure {
  kNone,
  kNotSent,        // no attempt: the dial-up line failed, sockets are off, or leaving
  kConnection,     // connect, send or a reply failed or timed out
  kGreeting,       // the server's greeting was not 220, or it refused EHLO and HELO
  kCertificate,    // the certificate check refused the server (tls says why)
  kTls,            // the TLS handshake failed otherwise
  kNoStartTls,     // STARTTLS required, but not offered or answered with an error
  kSenderRefused,  // MAIL FROM
  kRecipientRefused,
  kDataRefused,
};

// The encryption a conversation ran under.
enum class MailEncryption { kNone, kStartTls, kTls };

// The outcome of one mail transfer, for the caller that retries, counts or
// shows it; smtp.log has the whole conversation besides.
struct MailResult {
  MailStatus status = MailStatus::kPermanent;
  MailFailure failure = MailFailure::kNotSent;
  int32_t replyCode = 0;     // the refusing reply's code; 0 when no reply refused
  std::string reason;        // one line: the refusing reply, or what failed and why
  TlsFailure tls = TlsFailure::kNone;
  MailEncryption encryption = MailEncryption::kNone;
  TlsSessionInfo session;    // the agreed TLS version and cipher
  std::string authentication;  // the mechanism that succeeded ("PLAIN"); empty for none

  bool Accepted() const { return status == MailStatus::kAccepted; }
};

// kRetryable or kPermanent for a transfer that stopped at `failure`, with
// `replyCode` the refusing reply (0 when none came): 4xx replies and broken
// connections are worth another try; 5xx replies and refused certificates
// are not.
MailStatus StatusOfFailure(MailFailure failure, int32_t replyCode);

// "STARTTLS, TLSv1.3, TLS_AES_256_GCM_SHA384" or "none".
std::string EncryptionText(MailEncryption encryption, const TlsSessionInfo& session);

}  // namespace sentrel
