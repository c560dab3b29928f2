#include "notify/smtp_client.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/append_line.h"
#include "common/base64.h"
#include "common/md5.h"
#include "common/text.h"
#include "notify/transfer_log.h"

namespace sentrel {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// Text that goes into a command line: control characters would end the
// command early or smuggle in another one.
std::string CommandSafe(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 32 && c != 127) out += c;
  }
  return out;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

}  // namespace

int32_t ReplyCodeOf(std::string_view line) {
  if (line.size() < 3) return 0;
  int32_t code = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    if (line[i] < '0' || line[i] > '9') return 0;
    code = code * 10 + (line[i] - '0');
  }
  return code;
}

SmtpClient::SmtpClient(const Clock& clock) : localName(LocalHostName()), clock_(clock) {}

void SmtpClient::Log(std::string_view piece) const {
  if (logMode == 2 && !logFile.empty()) AppendLine(logFile, piece, kPrivateFileMode);
}

void SmtpClient::LogError() {
  if (logMode != 0 && !logFile.empty()) {
    AppendLine(logFile, "\r\nERROR " + std::to_string(socket_.Error()) + "\r\n",
               kPrivateFileMode);
  }
}

bool SmtpClient::Connect() {
  socket_.Close();
  if (logMode != 0 && !logFile.empty()) {
    AppendLine(logFile,
               "\r\n" + FormatLocalDateTime(clock_.Now()) + " Connect to " + host + " Port:" +
                   port + "\r\n",
               kPrivateFileMode);
  }
  if (!socket_.Connect(host, port, std::chrono::milliseconds(replyTimeout))) {
    LogError();
    return false;
  }
  return true;
}

void SmtpClient::ReadReply() {
  replyLines.clear();
  for (;;) {
    std::string line;
    const bool ok = socket_.ReadLine(line, std::chrono::milliseconds(replyTimeout));
    replyLine = line;
    Log(">" + line);
    replyLines.push_back(std::move(line));
    if (!ok) {
      LogError();
      break;
    }
    if (replyLine.find('-') != 3) break;
    if (replyLines.size() >= static_cast<std::size_t>(kMaxReplyLines)) {
      // An endless reply is a broken server; nothing after it can be trusted.
      socket_.Abort(EMSGSIZE);
      LogError();
      replyCode = 0;
      return;
    }
  }
  replyCode = ReplyCodeOf(replyLines.front());
}

bool SmtpClient::SendCommand(std::string_view text, std::optional<std::string_view> logged) {
  Log(logged.value_or(text));
  if (socket_.Send(text, std::chrono::milliseconds(replyTimeout))) return true;
  LogError();
  return false;
}

bool SmtpClient::Command(std::string_view text, int32_t expected,
                         std::optional<std::string_view> logged) {
  if (!SendCommand(text, logged)) {
    replyCode = 0;
    return false;
  }
  ReadReply();
  return replyCode == expected;
}

bool SmtpClient::FailOpen(MailFailure failure, std::string text) {
  openFailure = failure;
  openFailureText = std::move(text);
  // One line that names the reason, also where the transcript is brief.
  if (logMode != 0 && !logFile.empty()) {
    AppendLine(logFile, "ERROR " + openFailureText, kPrivateFileMode);
  }
  socket_.Close();
  return false;
}

std::string SmtpClient::SocketFailureText() const {
  const int error = socket_.Error();
  return host + " port " + port + ": " + (error != 0 ? std::strerror(error) : "no reply");
}

bool SmtpClient::Open() {
  extendedHello = true;
  authenticated = false;
  sizeAnnounced = false;
  eightBitAnnounced = false;
  capabilities.clear();
  replyCode = 0;
  encryption = MailEncryption::kNone;
  authMechanism.clear();
  openFailure = MailFailure::kNone;
  openFailureText.clear();

  if (!Connect()) return FailOpen(MailFailure::kConnection, "can't connect to " + SocketFailureText());
  if (security == kTlsFromFirstByte && !StartTls()) return false;
  ReadReply();
  if (replyCode != 220) {
    if (replyCode == 0) return FailOpen(MailFailure::kConnection, "no greeting from " + SocketFailureText());
    return FailOpen(MailFailure::kGreeting, "greeting: " + replyLine);
  }
  if (!Hello() || !NegotiateStartTls()) return false;
  Authenticate();
  for (const std::string& capability : capabilities) {
    if (StartsWith(AsciiUpper(capability), "SIZE")) sizeAnnounced = true;
    if (AsciiUpper(capability) == "8BITMIME") eightBitAnnounced = true;
  }
  return true;
}

bool SmtpClient::Hello() {
  extendedHello = true;
  capabilities.clear();
  const std::string name = CommandSafe(localName);
  auto helloAccepted = [this] { return replyCode >= 250 && replyCode <= 259; };
  auto failed = [this] {
    if (!socket_.IsOpen()) return FailOpen(MailFailure::kConnection, "hello: " + SocketFailureText());
    return FailOpen(MailFailure::kGreeting, "hello refused: " + replyLine);
  };
  if (!SendCommand("EHLO " + name + "\r\n")) return failed();
  ReadReply();
  if (!helloAccepted()) {
    extendedHello = false;
    if (!SendCommand("HELO " + name + "\r\n")) return failed();
    ReadReply();
    if (!helloAccepted()) return failed();
  }
  if (extendedHello) {
    for (std::size_t i = 1; i < replyLines.size(); ++i) {
      capabilities.push_back(replyLines[i].size() > 4 ? replyLines[i].substr(4) : std::string());
    }
  }
  return true;
}

bool SmtpClient::NegotiateStartTls() {
  if (security != kStartTlsWhenOffered && security != kStartTlsRequired) return true;
  const bool required = security == kStartTlsRequired;
  bool offered = false;
  for (const std::string& capability : capabilities) {
    if (AsciiUpper(TrimBlanksView(capability)) == "STARTTLS") offered = true;
  }
  if (!offered) {
    if (required) return FailOpen(MailFailure::kNoStartTls, host + " does not offer STARTTLS");
    Log("STARTTLS not offered: the mail goes unencrypted");
    return true;
  }
  if (!Command("STARTTLS\r\n", 220)) {
    if (!socket_.IsOpen()) return FailOpen(MailFailure::kConnection, "STARTTLS: " + SocketFailureText());
    // Refused: the session is still the clear one it was (RFC 3207).
    if (required) return FailOpen(MailFailure::kNoStartTls, "STARTTLS refused: " + replyLine);
    Log("STARTTLS refused: the mail goes unencrypted");
    return true;
  }
  // What the server said before TLS is forgotten; the hello is said again.
  return StartTls() && Hello();
}

bool SmtpClient::StartTls() {
  if (socket_.StartTls({host, caFile}, std::chrono::milliseconds(replyTimeout))) {
    encryption = security == kTlsFromFirstByte ? MailEncryption::kTls : MailEncryption::kStartTls;
    const TlsSessionInfo session = socket_.TlsSession();
    if (logMode != 0 && !logFile.empty()) {
      AppendLine(logFile, "TLS " + session.version + " " + session.cipher + ", certificate of " +
                              host + " checked", kPrivateFileMode);
    }
    return true;
  }
  const TlsFailure fault = socket_.TlsFault();
  const MailFailure failure = IsCertificateRefusal(fault)      ? MailFailure::kCertificate
                              : fault == TlsFailure::kHandshake ? MailFailure::kTls
                                                                : MailFailure::kConnection;
  std::string text = failure == MailFailure::kCertificate ? "TLS refused " + host + ": "
                                                          : "TLS with " + host + " failed: ";
  text += TlsFailureName(fault);
  if (!socket_.TlsDetail().empty()) text += " (" + socket_.TlsDetail() + ")";
  return FailOpen(failure, std::move(text));
}

void SmtpClient::Authenticate() {
  if (user.empty() && password.empty()) return;
  const std::string* auth = nullptr;
  for (const char* prefix : {"AUTH ", "AUTH="}) {
    for (const std::string& capability : capabilities) {
      if (StartsWith(AsciiUpper(capability), prefix)) {
        auth = &capability;
        break;
      }
    }
    if (auth != nullptr) break;
  }
  if (auth == nullptr) return;
  std::vector<std::string> listed;
  std::string word;
  for (const char c : AsciiUpper(auth->substr(5)) + " ") {
    if (c == ' ' || c == '=') {
      if (!word.empty()) listed.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  auto isListed = [&listed](std::string_view m) {
    return std::find(listed.begin(), listed.end(), m) != listed.end();
  };
  // Over TLS the password may travel as it is, in the server's order; in
  // the clear CRAM-MD5 keeps it off the wire where the server allows.
  std::vector<std::string> order;
  if (encryption != MailEncryption::kNone) {
    for (const std::string& m : listed) {
      if ((m == "PLAIN" || m == "LOGIN") && std::find(order.begin(), order.end(), m) == order.end()) {
        order.push_back(m);
      }
    }
    if (isListed("CRAM-MD5")) order.push_back("CRAM-MD5");
  } else {
    for (const char* m : {"CRAM-MD5", "LOGIN", "PLAIN"}) {
      if (isListed(m)) order.push_back(m);
    }
  }
  for (const std::string& mechanism : order) {
    const bool ok = mechanism == "PLAIN"   ? AuthPlain()
                    : mechanism == "LOGIN" ? AuthLogin()
                                           : AuthCramMd5();
    if (ok) {
      authenticated = true;
      authMechanism = mechanism;
      return;
    }
    if (!socket_.IsOpen()) return;
  }
}

bool SmtpClient::AuthPlain() {
  // RFC 4616 with the initial response on the command line (RFC 4954).
  const std::string response = std::string(1, '\0') + user + '\0' + password;
  return Command("AUTH PLAIN " + Base64Encode(response) + "\r\n", 235,
                 "AUTH PLAIN " + std::string(kLoggedPassword));
}

bool SmtpClient::AuthLogin() {
  // The prompts after 334 differ between servers; only the codes count.
  // The password's Base64 is the password itself to anyone who reads the
  // transcript; the user name and the CRAM-MD5 response give nothing away.
  return Command("AUTH LOGIN\r\n", 334) && Command(Base64Encode(user) + "\r\n", 334) &&
         Command(Base64Encode(password) + "\r\n", 235, kLoggedPassword);
}

bool SmtpClient::AuthCramMd5() {
  if (!Command("AUTH CRAM-MD5\r\n", 334)) return false;
  const std::optional<std::string> challenge =
      Base64Decode(replyLine.size() > 4 ? std::string_view(replyLine).substr(4) : "");
  if (!challenge) {
    // "*" cancels the exchange (RFC 4954), leaving the server ready for
    // another mechanism.
    Command("*\r\n", 501);
    return false;
  }
  const std::string response = user + " " + ToHex(HmacMd5(password, *challenge));
  return Command(Base64Encode(response) + "\r\n", 235);
}

bool SmtpClient::SendSender(std::string_view address, int64_t size, bool eightBitBody) {
  std::string command = "MAIL FROM:<" + CommandSafe(address) + ">";
  if (sizeAnnounced && size > 0) command += " SIZE=" + std::to_string(size);
  if (eightBitAnnounced && eightBitBody) command += " BODY=8BITMIME";
  command += kCrLf;
  return Command(command, 250);
}

bool SmtpClient::SendRecipient(std::string_view address) {
  return Command("RCPT TO:<" + CommandSafe(address) + ">\r\n", 250);
}

bool SmtpClient::SendData(const std::vector<std::string>& lines) {
  if (!Command("DATA\r\n", 354)) return false;

  std::string chunk;
  auto flush = [this, &chunk] {
    if (chunk.empty()) return true;
    Log(chunk);
    const bool sent = socket_.Send(chunk, std::chrono::milliseconds(replyTimeout));
    chunk.clear();
    if (!sent) LogError();
    return sent;
  };

  for (const std::string& line : lines) {
    // A bare CR or LF inside a line is a line break of its own: each piece
    // gets its CR LF and its dot stuffing.
    for (const std::string_view piece : SplitAtLineBreaks(line)) {
      const std::size_t length = piece.size() + (StartsWith(piece, ".") ? 1 : 0);
      if (chunk.size() + length >= kChunkSize && !flush()) return false;
      if (StartsWith(piece, ".")) chunk += '.';
      chunk += piece;
      chunk += kCrLf;
    }
  }
  if (!flush()) return false;
  return Command(".\r\n", 250);
}

bool SmtpClient::Quit() {
  replyCode = 0;
  if (SendCommand("QUIT\r\n")) ReadReply();
  socket_.Close();
  return replyCode == 221;
}

}  // namespace sentrel
