#include "notify/smtp_client.h"

#include <cerrno>
#include <chrono>

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

bool SmtpClient::Open() {
  extendedHello = true;
  authenticated = false;
  sizeAnnounced = false;
  eightBitAnnounced = false;
  capabilities.clear();
  replyCode = 0;

  if (!Connect()) return false;
  ReadReply();
  if (replyCode != 220) {
    socket_.Close();
    return false;
  }

  const std::string name = CommandSafe(localName);
  auto helloAccepted = [this] { return replyCode >= 250 && replyCode <= 259; };
  if (!SendCommand("EHLO " + name + "\r\n")) return false;
  ReadReply();
  if (!helloAccepted()) {
    extendedHello = false;
    if (!SendCommand("HELO " + name + "\r\n")) return false;
    ReadReply();
    if (!helloAccepted()) {
      socket_.Close();
      return false;
    }
  }

  if (extendedHello) {
    for (std::size_t i = 1; i < replyLines.size(); ++i) {
      capabilities.push_back(replyLines[i].size() > 4 ? replyLines[i].substr(4) : std::string());
    }
  }

  if (!user.empty() || !password.empty()) {
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
    if (auth != nullptr) {
      const std::string mechanisms = AsciiUpper(*auth);
      if (mechanisms.find("CRAM-MD5") != std::string::npos) authenticated = AuthCramMd5();
      if (mechanisms.find("LOGIN") != std::string::npos && !authenticated) {
        authenticated = AuthLogin();
      }
    }
  }

  for (const std::string& capability : capabilities) {
    if (StartsWith(AsciiUpper(capability), "SIZE")) sizeAnnounced = true;
    if (AsciiUpper(capability) == "8BITMIME") eightBitAnnounced = true;
  }
  return true;
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
