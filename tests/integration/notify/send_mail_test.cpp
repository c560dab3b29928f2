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
  // Sender, its size (the body plus the CR LF put in front), the recipients in order.
  EXPECT_EQ(ReadFile(Store() / "1.envelope"),
            "tim@sentrel.test\nSIZE=" + std::to_string(body.size() + 2) +
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

}  // namespace
}  // namespace sentrel
