// Fuzz target: the SMTP client's whole conversation, as one mail transfer
// runs it, against a scripted peer on loopback whose replies come from the
// fuzzer. Whatever the server says, the client's own stream stays well
// formed (no bare line breaks, no early end of the data, no command slipped
// in), and the transfer log never holds the password.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "common/base64.h"
#include "common/text.h"
#include "fakes/fake_clock.h"
#include "fuzz_support.h"
#include "notify/send_mail.h"
#include "notify/transfer_log.h"

namespace {

using namespace sentrel;

// Waits for `fd` to be ready for `events`; false after `ms` without.
bool Ready(int fd, short events, int ms) {
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, ms) == 1;
}

// A listening socket on 127.0.0.1 for the whole run, and one peer per
// input: it sends the script at once, closes its sending side (so the client
// meets the end of the stream instead of a time-out), and keeps what the
// client sends until the client closes.
class ScriptedPeer {
 public:
  ScriptedPeer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof self;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
        ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&self), &length) != 0) {
      std::perror("smtp fuzz: no loopback listener");
      std::abort();
    }
    port_ = ntohs(self.sin_port);
  }

  std::string Port() const { return std::to_string(port_); }

  // Serves one connection; returns what the client sent.
  std::string Serve(std::string_view script) {
    std::string received;
    if (!Ready(listener_, POLLIN, 5000)) return received;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return received;
    while (!script.empty()) {
      const ssize_t n = ::send(fd, script.data(), script.size(), MSG_NOSIGNAL);
      if (n <= 0) break;  // the client has gone
      script.remove_prefix(static_cast<std::size_t>(n));
    }
    ::shutdown(fd, SHUT_WR);
    char buffer[4096];
    while (Ready(fd, POLLIN, 5000)) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      received.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return received;
  }

 private:
  int listener_ = -1;
  uint16_t port_ = 0;
};

bool IsBase64Text(std::string_view line) {
  for (const char c : line) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
          c == '+' || c == '/' || c == '=')) {
      return false;
    }
  }
  return true;
}

bool StartsWithAny(std::string_view line, std::initializer_list<std::string_view> prefixes) {
  for (const std::string_view prefix : prefixes) {
    if (line.starts_with(prefix)) return true;
  }
  return false;
}

// The client's stream: CR LF line ends only; before DATA nothing but the
// commands the client speaks and Base64 answers to the server's AUTH
// prompts; after DATA the first line of a lone "." ends the data, and only
// QUIT may follow it.
void CheckClientStream(std::string_view sent) {
  for (std::size_t i = 0; i < sent.size(); ++i) {
    if (sent[i] == '\r') FUZZ_CHECK(i + 1 < sent.size() && sent[i + 1] == '\n');
    if (sent[i] == '\n') FUZZ_CHECK(i > 0 && sent[i - 1] == '\r');
  }
  FUZZ_CHECK(sent.empty() || sent.ends_with("\r\n"));
  enum class Part { Commands, Data, AfterData } part = Part::Commands;
  while (!sent.empty()) {
    const std::size_t end = sent.find("\r\n");
    const std::string_view line = sent.substr(0, end);
    sent.remove_prefix(end + 2);
    switch (part) {
      case Part::Commands:
        FUZZ_CHECK(StartsWithAny(line, {"EHLO ", "HELO ", "STARTTLS", "AUTH LOGIN", "AUTH CRAM-MD5",
                                        "AUTH PLAIN ", "MAIL FROM:<", "RCPT TO:<", "DATA", "QUIT", "*"}) ||
                   IsBase64Text(line));
        if (line == "DATA" && !sent.starts_with("QUIT\r\n")) part = Part::Data;
        break;
      case Part::Data:
        if (line == ".") part = Part::AfterData;
        break;
      case Part::AfterData:
        FUZZ_CHECK(line == "QUIT");
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static ScriptedPeer peer;
  static const std::string logPath = fuzz::ScratchFolder() + "/" + kTransferLogName;
  std::remove(logPath.c_str());

  fuzz::ByteReader input(data, size);
  const uint8_t flags = input.Byte();
  MailTransferRequest request;
  request.from = input.Text(64);
  request.to = input.Text(96);
  request.subject = input.Text(64);
  request.body = input.Text();
  if (flags & 1) {
    request.user = input.Text(32);
    request.password = input.Text(32);
  }
  // STARTTLS when offered: a scripted STARTTLS meets a peer that speaks no TLS.
  if (flags & 4) request.security = 1;
  request.server = "127.0.0.1";
  request.port = peer.Port();
  const std::string script(input.Rest());
  const TransferLog log(flags & 2 ? logPath : std::string());
  const testing::FakeClock clock(EncodeDateTime({2026, 12, 7, 10, 30, 0, 0}));

  std::string sent;
  std::thread server([&] { sent = peer.Serve(script); });
  const MailResult result = MailTransfer(request, log, clock, 2000);
  const bool delivered = result.Accepted();
  server.join();
  // A 5xx refusal is final, a 4xx one worth another try (codes beyond are
  // a broken server's, judged by where the transfer stopped).
  if (result.replyCode >= 500 && result.replyCode < 600) {
    FUZZ_CHECK(result.status == MailStatus::kPermanent);
  }
  if (result.replyCode >= 400 && result.replyCode < 500) {
    FUZZ_CHECK(result.status == MailStatus::kRetryable);
  }

  CheckClientStream(sent);
  // The message counts as sent only when the server took the data.
  if (delivered) FUZZ_CHECK(sent.find("\r\nDATA\r\n") != std::string::npos &&
                            sent.find("\r\n.\r\n") != std::string::npos);

  if (log.Enabled()) {
    const std::string written = fuzz::ReadWhole(logPath);
    struct stat st {};
    FUZZ_CHECK(::stat(logPath.c_str(), &st) == 0);
    FUZZ_CHECK((st.st_mode & 077) == 0);
    // The password's Base64 never reaches the log, unless the same text
    // stands in something else that is logged (the fuzzer may put it into
    // the sender, the server's replies, ...; the program may log those
    // several times, so such inputs are not judged).
    const std::string secret = Base64Encode(request.password);
    const std::string plain =
        Base64Encode(std::string(1, '\0') + request.user + '\0' + request.password);
    std::string elsewhere = script + request.from + request.to + request.subject + request.body +
                            request.user + Base64Encode(request.user) +
                            FormatLocalDateTime(clock.Now()) + request.port +
                            " Connect to Server IP Port Login Logout MailFrom MailTo Error ERROR";
    for (const std::string_view line : SplitAtLineBreaks(sent)) {
      if (line != secret && line != "AUTH PLAIN " + plain) elsewhere.append(line).append("\n");
    }
    if (!secret.empty() && elsewhere.find(secret) == std::string::npos) {
      FUZZ_CHECK(written.find(secret) == std::string::npos);
    }
    if (!request.password.empty() && elsewhere.find(plain) == std::string::npos) {
      FUZZ_CHECK(written.find(plain) == std::string::npos);
    }
  }
  return 0;
}
