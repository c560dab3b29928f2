#include "notify/send_mail.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "fakes/fake_clock.h"
#include "fakes/fake_desktop.h"
#include "fakes/test_files.h"
#include "fakes/text_samples.h"
#include "common/base64.h"

extern char** environ;

namespace sentrel {
namespace {

using testing::ReadFile;

namespace fs = std::filesystem;
using testing::FakeClock;
using testing::FakeDesktop;
using testing::TextSample;

constexpr const char* kPython = "/usr/bin/python3";

// The lines of a transfer log, for checks that ignore the conversation
// between them.
std::vector<std::string> LogLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// `wanted` occurs in `lines` in this order (other lines may stand between).
bool InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
  std::size_t next = 0;
  for (const std::string& line : lines) {
    if (next < wanted.size() && line == wanted[next]) ++next;
  }
  return next == wanted.size();
}

// The SMTP server of smtp_peer.py, run for one test and stopped by closing
// its standard input.
class SmtpPeer {
 public:
  SmtpPeer(const fs::path& store, const std::vector<std::string>& options) {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<std::string> args = {kPython, SENTREL_NOTIFY_PEER_DIR "/smtp_peer.py", "--store",
                                     store.string()};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, kPython, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    // "PORT n" within 15 s, or the peer counts as not started.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (pid_ > 0 && line.find('\n') == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      pollfd p{out[0], POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char c[64];
      const ssize_t n = read(out[0], c, sizeof c);
      if (n <= 0) break;
      line.append(c, static_cast<std::size_t>(n));
    }
    close(out[0]);
    if (line.rfind("PORT ", 0) == 0) port_ = std::stoi(line.substr(5));
  }
  ~SmtpPeer() {
    if (stdin_ >= 0) close(stdin_);
    if (pid_ <= 0) return;
    for (int i = 0; i < 500; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  SmtpPeer(const SmtpPeer&) = delete;
  SmtpPeer& operator=(const SmtpPeer&) = delete;

  int Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int port_ = 0;
};

class SendMailTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Fix the zone so the Date header's offset is known: UTC+01:00.
    setenv("TZ", "TST-1", 1);
    tzset();
  }

  void SetUp() override {
    if (std::system("/usr/bin/python3 -c 'import aiosmtpd' >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "Debian's python3-aiosmtpd is not installed (scripts/setup.sh installs it)";
    }
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(::testing::TempDir()) / (std::string("send_mail_") + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "store");
    fs::create_directories(dir_ / "logs");
    options_.ServerName = "127.0.0.1";
    options_.From = "Sentrel monitor <tim@sentrel.test>";
    options_.PathToLog = (dir_ / "logs").string();
  }

  // Starts the server and points the options at it.
  bool StartPeer(const std::vector<std::string>& peerOptions) {
    peer_ = std::make_unique<SmtpPeer>(dir_ / "store", peerOptions);
    options_.Port = peer_->Port();
    return peer_->Port() != 0;
  }

  void Send(const std::string& to, const std::string& body, const std::string& subject,
            bool transferLog = true) {
    MailContext context{desktop_, clock_, dialUp_, transferLog, dir_.string(), 5000};
    SendMail(options_, context, to, body, subject);
  }

  std::string TransferLogText() const { return ReadFile(dir_ / "logs" / "smtp.log"); }
  fs::path Store() const { return dir_ / "store"; }

  fs::path dir_;
  ROptions options_;
  FakeDesktop desktop_;
  FakeClock clock_{EncodeDateTime({2026, 12, 7, 4, 23, 56, 0})};
  DialUp dialUp_{Nmcli("")};
  std::unique_ptr<SmtpPeer> peer_;
};

TEST_F(SendMailTest, CramMd5MailArrivesWithExactHeadersBodyAndEnvelope) {
  ASSERT_TRUE(StartPeer({"--auth-required"}));
  options_.SMTPUsername = "tim";
  options_.SMTPPassword = "tanstaaftanstaaf";
  const std::string body = "Host router1 lost.\r\n.\r\n.hidden line\r\nbare\nLF and bare\rCR";
  Send("a@x.test, Bob <b@x.test>;c@x.test", body, "Alarm: router1");

  EXPECT_EQ(ReadFile(Store() / "1.data"),
            "From: Sentrel monitor <tim@sentrel.test>\r\n"
            "To: a@x.test, Bob <b@x.test>;c@x.test\r\n"
            "Date: Mon, 7 Dec 2026 04:23:56 +0100\r\n"
            "Subject: Alarm: router1\r\n"
            "X-mailer: Sentrel\r\n"
            "\r\n\r\n\r\n"
            "Host router1 lost.\r\n.\r\n.hidden line\r\nbare\r\nLF and bare\r\nCR\r\n");
  // Sender, the size of the whole message as it arrived, the recipients in order.
  EXPECT_EQ(ReadFile(Store() / "1.envelope"),
            "tim@sentrel.test\nSIZE=" + std::to_string(ReadFile(Store() / "1.data").size()) +
                "\na@x.test\nb@x.test\nc@x.test\n");
  const std::string log = TransferLogText();
  EXPECT_NE(log.find("AUTH CRAM-MD5\r\n"), std::string::npos);
  EXPECT_EQ(log.find("AUTH LOGIN"), std::string::npos);
  EXPECT_TRUE(InOrder(LogLines(log),
                      {"====" + FormatLocalDateTime(clock_.Now()) + "====", "Server IP 127.0.0.1",
                       "Port " + std::to_string(options_.Port), "Login tim", "MailFrom", "MailTo",
                       "MailTo", "MailTo", ">250 Message accepted for delivery", "Logout tim"}))
      << log;
  EXPECT_TRUE(desktop_.Calls().empty());
}

class SendMailTextTest : public SendMailTest,
                         public ::testing::WithParamInterface<std::tuple<TextSample, bool>> {};

// What a mail reader shows: Python's e-mail parser on the bytes the server got.
TEST_P(SendMailTextTest, SubjectBodyAndSenderNameDecodeToTheText) {
  const auto& [sample, eightBit] = GetParam();
  ASSERT_TRUE(eightBit ? StartPeer({}) : StartPeer({"--no-8bitmime"}));
  const std::string text(sample.text);
  options_.From = text + " <tim@sentrel.test>";
  Send("a@x.test", text + "\r\n= " + text, "Alarm: " + text);

  EXPECT_EQ(ReadFile(Store() / "1.subject"), "Alarm: " + text);
  EXPECT_EQ(ReadFile(Store() / "1.from"), text);
  EXPECT_EQ(ReadFile(Store() / "1.body"), "\r\n\r\n" + text + "\r\n= " + text + "\r\n");
  const std::string data = ReadFile(Store() / "1.data");
  const bool ascii = sample.name == std::string_view("Ascii");
  EXPECT_EQ(data.find("MIME-Version: 1.0\r\n") != std::string::npos, !ascii);
  const bool quoted =
      data.find("Content-Transfer-Encoding: quoted-printable\r\n") != std::string::npos;
  EXPECT_EQ(quoted, !ascii && !eightBit);
}

INSTANTIATE_TEST_SUITE_P(Samples, SendMailTextTest,
                         ::testing::Combine(::testing::ValuesIn(testing::kTextSamples),
                                            ::testing::Bool()),
                         [](const auto& test) {
                           return std::string(std::get<0>(test.param).name) +
                                  (std::get<1>(test.param) ? "EightBit" : "QuotedPrintable");
                         });

TEST_F(SendMailTest, LongBodyGoesOutInPiecesAndArrivesWhole) {
  ASSERT_TRUE(StartPeer({}));
  // Far more than one piece of the transfer, a line of the longest length
  // SMTP allows, and dot lines where a piece may begin.
  std::string body;
  for (int i = 0; i < 60; ++i) body += (i % 19 == 0 ? "." : "") + std::string(79, 'a' + i % 26) + "\r\n";
  body += std::string(998, 'L') + "\r\n.\r\nend";
  Send("a@x.test", body, "long");

  const std::string data = ReadFile(Store() / "1.data");
  const std::string sent = data.substr(data.find("X-mailer: Sentrel\r\n\r\n\r\n\r\n") + 25);
  EXPECT_EQ(sent, body + "\r\n");
}

TEST_F(SendMailTest, LoginMailWithoutSubject) {
  ASSERT_TRUE(StartPeer({"--auth-required", "--mechanisms", "LOGIN"}));
  options_.SMTPUsername = "tim";
  options_.SMTPPassword = "tanstaaftanstaaf";
  Send("a@x.test", "OK", "###");

  const std::string data = ReadFile(Store() / "1.data");
  EXPECT_EQ(data.find("Subject:"), std::string::npos);
  EXPECT_NE(data.find("Date: Mon, 7 Dec 2026 04:23:56 +0100\r\nX-mailer: Sentrel\r\n\r\n\r\n\r\nOK\r\n"),
            std::string::npos);
  EXPECT_NE(TransferLogText().find("AUTH LOGIN\r\n"), std::string::npos);
}

TEST_F(SendMailTest, MailWithoutAuthenticationAndWithoutTransferLog) {
  ASSERT_TRUE(StartPeer({}));
  // Header values cannot carry a second header in.
  Send("a@x.test", "Body", "Hello\r\nBcc: victim@x.test", /*transferLog=*/false);

  const std::string data = ReadFile(Store() / "1.data");
  EXPECT_NE(data.find("Subject: HelloBcc: victim@x.test\r\n"), std::string::npos);
  EXPECT_EQ(data.find("\r\nBcc:"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "logs" / "smtp.log"));
  EXPECT_FALSE(fs::exists(dir_ / "smtp.log"));
}

TEST_F(SendMailTest, RefusedRecipientStopsTheLoopAndNothingIsSent) {
  ASSERT_TRUE(StartPeer({"--refuse", "nobody"}));
  Send("a@x.test;nobody@x.test;c@x.test", "Body", "Subject");

  EXPECT_FALSE(fs::exists(Store() / "1.data"));
  EXPECT_EQ(ReadFile(Store() / "rcpt.log"), "a@x.test\nnobody@x.test\n");
  const std::string log = TransferLogText();
  EXPECT_TRUE(InOrder(LogLines(log), {"MailFrom", "MailTo", "Error MailTo nobody@x.test", "QUIT",
                                      ">221 Bye", "Logout "}))
      << log;
  EXPECT_EQ(log.find("DATA"), std::string::npos);
}

TEST_F(SendMailTest, WrongPasswordShowsOnlyInTheTransferLog) {
  ASSERT_TRUE(StartPeer({"--auth-required"}));
  options_.SMTPUsername = "tim";
  options_.SMTPPassword = "wrong";
  Send("a@x.test", "Body", "Subject");

  EXPECT_FALSE(fs::exists(Store() / "1.data"));
  const std::string log = TransferLogText();
  EXPECT_NE(log.find("Login tim\r\n"), std::string::npos);
  EXPECT_NE(log.find("Error MailFrom tim@sentrel.test\r\n"), std::string::npos);
  EXPECT_NE(log.find("Logout tim\r\n"), std::string::npos);
  EXPECT_TRUE(desktop_.Calls().empty());
}

TEST_F(SendMailTest, UnreachableServerIsLoggedInTheProgramFolderWhenTheLogFolderIsMissing) {
  options_.PathToLog = (dir_ / "no-such-folder").string();
  options_.Port = 1;  // nothing listens on 127.0.0.1:1
  Send("a@x.test", "Body", "Subject");

  const std::string log = ReadFile(dir_ / "smtp.log");
  EXPECT_NE(log.find("Port 1\r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\nERROR "), std::string::npos);
  EXPECT_NE(log.find("Can't login \r\n"), std::string::npos);
  EXPECT_TRUE(desktop_.Calls().empty());
}

// Certificates made once for the TLS cases: a CA that the options trust
// through SMTPCAFile, and server certificates for 127.0.0.1 from it, for
// another name, expired, and self-signed (an issuer nobody trusts).
class SendMailTlsTest : public SendMailTest {
 protected:
  // One folder per test process: the cases may run side by side.
  static fs::path Certs() {
    return fs::path(::testing::TempDir()) / ("send_mail_certs_" + std::to_string(getpid()));
  }

  static void SetUpTestSuite() {
    SendMailTest::SetUpTestSuite();
    fs::remove_all(Certs());
    fs::create_directories(Certs());
    const std::string script = "set -e; cd '" + Certs().string() + "'\n" + R"(
key() { openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout $1.key -out $1.csr -subj "/CN=$2"; }
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key -out ca.pem -days 30 -subj "/CN=Sentrel Test CA"
sign() { key $1 $2; printf 'subjectAltName=%s\n' "$3" > $1.ext
  openssl x509 -req -in $1.csr -CA ca.pem -CAkey ca.key -set_serial $5 -days $4 -extfile $1.ext -out $1.pem; }
sign good 127.0.0.1 IP:127.0.0.1,DNS:localhost 30 2
sign other other.test DNS:other.test 30 3
sign expired 127.0.0.1 IP:127.0.0.1 -1 4
key stranger 127.0.0.1
printf 'subjectAltName=IP:127.0.0.1\n' > stranger.ext
openssl x509 -req -in stranger.csr -key stranger.key -days 30 -extfile stranger.ext -out stranger.pem
)";
    certsMade_ = std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
  }

  static void TearDownTestSuite() { fs::remove_all(Certs()); }

  void SetUp() override {
    SendMailTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(certsMade_) << "openssl could not make the test certificates";
    options_.SMTPCAFile = (Certs() / "ca.pem").string();
    options_.SMTPUsername = "tim";
    options_.SMTPPassword = "tanstaaftanstaaf";
  }

  bool StartTlsPeer(const std::string& mode, const std::string& cert,
                    std::vector<std::string> more = {}) {
    more.insert(more.end(), {"--tls", mode, "--cert", (Certs() / (cert + ".pem")).string(),
                             "--key", (Certs() / (cert + ".key")).string()});
    return StartPeer(more);
  }

  MailResult SendWithResult(const std::string& to, const std::string& body,
                            const std::string& subject) {
    MailContext context{desktop_, clock_, dialUp_, true, dir_.string(), 5000};
    return SendMail(options_, context, to, body, subject);
  }

  static inline bool certsMade_ = false;
};

struct TlsCase {
  const char* name;
  const char* peerMode;
  int32_t security;
  const char* mechanisms;
  MailEncryption encryption;
  const char* mechanism;  // the one that must authenticate
};

class SendMailTlsModeTest : public SendMailTlsTest,
                            public ::testing::WithParamInterface<TlsCase> {};

// Over TLS the password may travel as it is: PLAIN or LOGIN goes before
// CRAM-MD5, the password never reaches the log, the log names the session.
TEST_P(SendMailTlsModeTest, MailArrivesEncryptedAuthenticatedAndParsesBack) {
  const TlsCase& c = GetParam();
  ASSERT_TRUE(StartTlsPeer(c.peerMode, "good", {"--auth-required", "--mechanisms", c.mechanisms}));
  options_.SMTPSecurity = c.security;
  const MailResult result = SendWithResult("\"Ops, night\" <a@x.test>, b@x.test", "Host lost.", "Alarm");

  ASSERT_TRUE(result.Accepted()) << result.reason;
  EXPECT_EQ(result.encryption, c.encryption);
  EXPECT_EQ(result.authentication, c.mechanism);
  EXPECT_EQ(ReadFile(Store() / "auth.log"), std::string(c.mechanism) + "\n");
  EXPECT_EQ(ReadFile(Store() / "1.tls"), "tls");
  EXPECT_EQ(ReadFile(Store() / "1.subject"), "Alarm");
  EXPECT_EQ(ReadFile(Store() / "1.from"), "Sentrel monitor");
  EXPECT_EQ(ReadFile(Store() / "1.body"), "\r\n\r\nHost lost.\r\n");
  EXPECT_EQ(ReadFile(Store() / "1.to"), "Ops, night|a@x.test\n|b@x.test\n");
  const std::string log = TransferLogText();
  EXPECT_NE(log.find("TLS " + result.session.version + " " + result.session.cipher), std::string::npos)
      << log;
  EXPECT_FALSE(result.session.version.empty() || result.session.cipher.empty());
  EXPECT_EQ(log.find("tanstaaftanstaaf"), std::string::npos);
  EXPECT_EQ(log.find(Base64Encode("tanstaaftanstaaf")), std::string::npos);
  EXPECT_EQ(log.find(Base64Encode(std::string("\0tim\0tanstaaftanstaaf", 21))), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SendMailTlsModeTest,
    ::testing::Values(
        TlsCase{"StartTlsRequiredPlain", "required", 2, "PLAIN,CRAM-MD5", MailEncryption::kStartTls, "PLAIN"},
        TlsCase{"TlsFromFirstByteLogin", "smtps", 3, "LOGIN,CRAM-MD5", MailEncryption::kTls, "LOGIN"},
        TlsCase{"StartTlsOfferedPlain", "starttls", 1, "CRAM-MD5,PLAIN", MailEncryption::kStartTls, "PLAIN"}),
    [](const auto& test) { return std::string(test.param.name); });

struct RefusalCase {
  const char* name;
  const char* cert;
  const char* peerMode;
  int32_t security;
  TlsFailure failure;
};

class SendMailRefusedCertificateTest : public SendMailTlsTest,
                                       public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(SendMailRefusedCertificateTest, EndsBeforeMailFromWithOneLineNamingTheReason) {
  const RefusalCase& c = GetParam();
  ASSERT_TRUE(StartTlsPeer(c.peerMode, c.cert));
  options_.SMTPSecurity = c.security;
  if (c.failure == TlsFailure::kCaFile) options_.SMTPCAFile = (dir_ / "missing.pem").string();
  const MailResult result = SendWithResult("a@x.test", "Body", "Subject");

  EXPECT_FALSE(result.Accepted());
  EXPECT_EQ(result.failure, MailFailure::kCertificate);
  EXPECT_EQ(result.tls, c.failure);
  EXPECT_EQ(result.status, MailStatus::kPermanent);
  EXPECT_FALSE(fs::exists(Store() / "mail.log"));
  const std::string log = TransferLogText();
  EXPECT_NE(log.find("ERROR TLS refused 127.0.0.1: " + std::string(TlsFailureName(c.failure))),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("MAIL FROM"), std::string::npos);
  EXPECT_EQ(log.find("\r\nAUTH "), std::string::npos);
  EXPECT_NE(log.find("Can't login tim"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, SendMailRefusedCertificateTest,
    ::testing::Values(RefusalCase{"OtherName", "other", "required", 2, TlsFailure::kNameMismatch},
                      RefusalCase{"Expired", "expired", "smtps", 3, TlsFailure::kExpired},
                      RefusalCase{"UnknownIssuer", "stranger", "starttls", 1, TlsFailure::kUnknownIssuer},
                      RefusalCase{"MissingCaFile", "good", "starttls", 2, TlsFailure::kCaFile}),
    [](const auto& test) { return std::string(test.param.name); });

// "STARTTLS required" never falls back to the clear; "when offered" does.
TEST_F(SendMailTlsTest, ServerWithoutStartTlsIsRefusedOnlyWhenItIsRequired) {
  ASSERT_TRUE(StartPeer({}));
  options_.SMTPSecurity = 2;
  const MailResult refused = SendWithResult("a@x.test", "Body", "Subject");
  EXPECT_EQ(refused.failure, MailFailure::kNoStartTls);
  EXPECT_EQ(refused.status, MailStatus::kPermanent);
  EXPECT_FALSE(fs::exists(Store() / "mail.log"));
  EXPECT_NE(TransferLogText().find("ERROR 127.0.0.1 does not offer STARTTLS"), std::string::npos);

  options_.SMTPSecurity = 1;
  const MailResult clear = SendWithResult("a@x.test", "Body", "Subject");
  ASSERT_TRUE(clear.Accepted()) << clear.reason;
  EXPECT_EQ(clear.encryption, MailEncryption::kNone);
  EXPECT_EQ(clear.authentication, "CRAM-MD5");
  EXPECT_EQ(ReadFile(Store() / "1.tls"), "clear");
  EXPECT_NE(TransferLogText().find("STARTTLS not offered"), std::string::npos);
}

class SendMailLineTest : public SendMailTest, public ::testing::WithParamInterface<bool> {};

// Lines beyond SMTP's 998 bytes go quoted-printable, with 8BITMIME as
// without, and arrive as they were written; a quoted display name with a
// comma is one recipient, and the To header parses back to its names.
TEST_P(SendMailLineTest, LongLinesAndQuotedCommasArriveIntact) {
  ASSERT_TRUE(GetParam() ? StartPeer({}) : StartPeer({"--no-8bitmime"}));
  std::string cyrillic;
  while (cyrillic.size() < 1400) cyrillic += "Сервер недоступен. ";
  const std::string ascii = "." + std::string(1200, 'a');
  Send("\"Müller, Jürgen\" <jm@example.test>, ops@x.test", cyrillic + "\r\n" + ascii, "Long");

  EXPECT_EQ(ReadFile(Store() / "rcpt.log"), "jm@example.test\nops@x.test\n");
  EXPECT_EQ(ReadFile(Store() / "1.to"), "Müller, Jürgen|jm@example.test\n|ops@x.test\n");
  EXPECT_EQ(ReadFile(Store() / "1.body"), "\r\n\r\n" + cyrillic + "\r\n" + ascii + "\r\n");
  const std::string data = ReadFile(Store() / "1.data");
  EXPECT_NE(data.find("Content-Transfer-Encoding: quoted-printable\r\n"), std::string::npos);
  for (const std::string& line : LogLines(data)) ASSERT_LE(line.size(), 998u);
}

INSTANTIATE_TEST_SUITE_P(EightBitMime, SendMailLineTest, ::testing::Bool());

}  // namespace
}  // namespace sentrel
