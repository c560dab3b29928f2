#include "notify/mail_result.h"

namespace sentrel {

MailStatus StatusOfFailure(MailFailure failure, int32_t replyCode) {
  if (failure == MailFailure::kNone) return MailStatus::kAccepted;
  if (replyCode >= 400 && replyCode < 500) return MailStatus::kRetryable;
  if (replyCode >= 500 && replyCode < 600) return MailStatus::kPermanent;
  switch (failure) {
    case MailFailure::kCertificate:
    case MailFailure::kTls:
    case MailFailure::kNoStartTls:
      // The same server gives the same answer until a person acts.
      return MailStatus::kPermanent;
    default:
      // No reply, or a broken one: the network or the server may recover.
      return MailStatus::kRetryable;
  }
}

std::string EncryptionText(MailEncryption encryption, const TlsSessionInfo& session) {
  if (encryption == MailEncryption::kNone) return "none";
  std::string text = encryption == MailEncryption::kStartTls ? "STARTTLS" : "TLS";
  if (!session.version.empty()) text += ", " + session.version;
  if (!session.cipher.empty()) text += ", " + session.cipher;
  return text;
}

}  // namespace sentrel
