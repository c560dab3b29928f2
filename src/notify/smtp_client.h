#pragma once

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "notify/mail_result.h"
#include "platform/tcp_client.h"

namespace sentrel {

// One SMTP conversation with one server (RFC 5321, with the EHLO extensions
// SIZE, 8BITMIME, STARTTLS (RFC 3207) and AUTH PLAIN / LOGIN / CRAM-MD5),
// TLS from the first byte (RFC 8314) on request, and its optional
// transcript. A TLS session always checks the server's certificate; a
// refused one ends the conversation before any command is sent under it.
//
// Calling order: Open; only if it succeeded SendSender, SendRecipient for
// each recipient while they are accepted, SendData after an accepted
// recipient, and Quit. Every wait (connect, send, each reply line) is
// bounded by `replyTimeout`. A socket error or time-out closes the
// connection; the steps after it fail at once. Blocks the calling thread;
// one client per transfer, not shared between threads.
class SmtpClient {
 public:
  // More continuation lines than this in one reply is a broken server.
  static constexpr int kMaxReplyLines = 128;
  // A pending DATA chunk is sent once it would reach this many characters.
  static constexpr std::size_t kChunkSize = 1500;
  // What the transcript shows for the password line of AUTH LOGIN.
  static constexpr std::string_view kLoggedPassword = "********\r\n";

  // Values of `security` (the option SMTPSecurity).
  static constexpr int32_t kSecurityNone = 0;
  static constexpr int32_t kStartTlsWhenOffered = 1;
  static constexpr int32_t kStartTlsRequired = 2;
  static constexpr int32_t kTlsFromFirstByte = 3;

  std::string host = "127.0.0.1";
  std::string port = "smtp";  // decimal or a service name
  int32_t replyTimeout = 60000;  // ms
  std::string user;
  std::string password;
  int32_t replyCode = 0;
  std::string replyLine;
  std::vector<std::string> replyLines;
  std::vector<std::string> capabilities;
  bool extendedHello = true;
  bool authenticated = false;
  bool sizeAnnounced = false;
  bool eightBitAnnounced = false;  // 8BITMIME
  std::string localName;
  uint16_t logMode = 0;  // 0 = no transcript, 2 = full transcript
  std::string logFile;   // created readable by its user alone
  int32_t security = kSecurityNone;
  std::string caFile;    // PEM certificates trusted besides the system's
  // Set by Open: the encryption in force, the mechanism that authenticated
  // (empty for none), and when Open failed, where and why.
  MailEncryption encryption = MailEncryption::kNone;
  std::string authMechanism;
  MailFailure openFailure = MailFailure::kNone;
  std::string openFailureText;

  // `clock` dates the transcript's connect line; it must outlive the client.
  explicit SmtpClient(const Clock& clock);

  // Connects (with TLS at once for kTlsFromFirstByte), reads the 220
  // greeting and says EHLO (HELO when EHLO is refused); with STARTTLS
  // wanted and offered, starts TLS and says EHLO again; then authenticates
  // when `user` or `password` is set. True when greeted and the hello was
  // answered 250..259; a failed authentication leaves `authenticated` false
  // without failing Open. kStartTlsRequired fails against a server that does
  // not offer STARTTLS or refuses it.
  bool Open();
  // MAIL FROM, with SIZE=size when the server announced SIZE and size > 0,
  // and BODY=8BITMIME for an `eightBitBody` when it announced 8BITMIME.
  bool SendSender(std::string_view address, int64_t size, bool eightBitBody = false);
  bool SendRecipient(std::string_view address);
  // DATA, the lines with dot transparency in chunks, and the final dot. A
  // line holding CR or LF is sent as several lines, so no caller can end the
  // data early or slip in commands.
  bool SendData(const std::vector<std::string>& lines);
  // QUIT; the connection is closed in any case. True on reply 221.
  bool Quit();

  // Ends every wait of the conversation soon after `stop` is requested; the
  // step in progress then fails with ECANCELED.
  void SetStopToken(std::stop_token stop) { socket_.SetStopToken(std::move(stop)); }

  // errno of the last socket failure, 0 when none.
  int SocketError() const { return socket_.Error(); }
  TlsFailure TlsFault() const { return socket_.TlsFault(); }
  TlsSessionInfo TlsSession() const { return socket_.TlsSession(); }

 private:
  bool Connect();
  bool Hello();
  bool StartTls();
  bool NegotiateStartTls();
  // Records why Open failed, logs it as one line and closes; false.
  bool FailOpen(MailFailure failure, std::string text);
  std::string SocketFailureText() const;
  void Authenticate();
  bool AuthPlain();
  void ReadReply();
  // `logged` stands for `text` in the transcript when given.
  bool SendCommand(std::string_view text, std::optional<std::string_view> logged = {});
  bool Command(std::string_view text, int32_t expected,
               std::optional<std::string_view> logged = {});
  bool AuthCramMd5();
  bool AuthLogin();
  void Log(std::string_view piece) const;
  void LogError();

  const Clock& clock_;
  TcpClient socket_;
};

// Code of a reply line: its first three characters as a decimal number; 0
// when they are not three digits.
int32_t ReplyCodeOf(std::string_view line);

}  // namespace sentrel
