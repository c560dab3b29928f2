#include "notify/smtp_client.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/base64.h"
#include "fakes/fake_clock.h"
#include "fakes/test_files.h"
#include "notify/transfer_log.h"
#include "scripted_server.h"

namespace sentrel {
namespace {

using testing::FakeClock;
using testing::ScriptedServer;
using Connection = ScriptedServer::Connection;
using SteadyClock = std::chrono::steady_clock;

constexpr int32_t kShortTimeout = 300;  // ms

class SmtpClientTest : public ::testing::Test {
 protected:
  void Aim(SmtpClient& client, const ScriptedServer& server) {
    client.port = server.Port();
    client.localName = "probe.test";
    client.replyTimeout = kShortTimeout;
  }
  FakeClock clock_{EncodeDateTime({2026, 12, 7, 4, 23, 56, 0})};
};

TEST_F(SmtpClientTest, HeloAfterRefusedEhloGivesNoCapabilitiesAuthOrSize) {
  ScriptedServer server([](Connection& c) {
    c.Send("220 fake ready\r\n");
    c.ReadLine();
    c.Send("502 5.5.1 EHLO not implemented\r\n");
    c.ReadLine();
    c.Send("250 fake\r\n");
    c.ReadLine();
    c.Send("250 sender ok\r\n");
    c.ReadLine();
    c.Send("221 bye\r\n");
  });
  const auto log = std::filesystem::path(::testing::TempDir()) / "helo_transcript.log";
  std::filesystem::remove(log);
  SmtpClient client(clock_);
  Aim(client, server);
  client.user = "tim";
  client.password = "secret";
  client.logMode = 2;
  client.logFile = log.string();

  ASSERT_TRUE(client.Open());
  EXPECT_FALSE(client.extendedHello);
  EXPECT_TRUE(client.capabilities.empty());
  EXPECT_FALSE(client.authenticated);
  EXPECT_FALSE(client.sizeAnnounced);
  EXPECT_TRUE(client.SendSender("alarm@probe.test", 1234));
  EXPECT_TRUE(client.Quit());

  EXPECT_EQ(server.Received(),
            (std::vector<std::string>{"EHLO probe.test", "HELO probe.test",
                                      "MAIL FROM:<alarm@probe.test>", "QUIT"}));
  // The transcript: connect line, each command as sent (its CR LF plus the
  // one every piece gets), each reply line behind ">".
  EXPECT_EQ(testing::ReadFile(log), "\r\n" + FormatLocalDateTime(clock_.Now()) + " Connect to 127.0.0.1 Port:" +
                            server.Port() + "\r\n\r\n" +
                            ">220 fake ready\r\n"
                            "EHLO probe.test\r\n\r\n"
                            ">502 5.5.1 EHLO not implemented\r\n"
                            "HELO probe.test\r\n\r\n"
                            ">250 fake\r\n"
                            "MAIL FROM:<alarm@probe.test>\r\n\r\n"
                            ">250 sender ok\r\n"
                            "QUIT\r\n\r\n"
                            ">221 bye\r\n");
}

TEST_F(SmtpClientTest, CramMd5IsTriedFirstAndLoginAfterItFailed) {
  ScriptedServer server([](Connection& c) {
    c.Send("220 fake ready\r\n");
    c.ReadLine();
    c.Send("250-fake greets you\r\n250-SIZE 1000000\r\n250-8BITMIME\r\n250 AUTH LOGIN CRAM-MD5\r\n");
    if (c.ReadLine() != "AUTH CRAM-MD5") return;
    c.Send("334 " + Base64Encode("<1896.697170952@postoffice.reston.mci.net>") + "\r\n");
    c.ReadLine();
    c.Send("535 5.7.8 no\r\n");
    if (c.ReadLine() != "AUTH LOGIN") return;
    c.Send("334 VXNlcm5hbWU6\r\n");
    c.ReadLine();
    c.Send("334 UGFzc3dvcmQ6\r\n");
    c.ReadLine();
    c.Send("235 2.7.0 ok\r\n");
    c.ReadLine();
    c.Send("250 ok\r\n");
  });
  const auto log = std::filesystem::path(::testing::TempDir()) / "auth_transcript.log";
  std::filesystem::remove(log);
  SmtpClient client(clock_);
  Aim(client, server);
  client.user = "tim";
  client.password = "tanstaaftanstaaf";
  client.logMode = 2;
  client.logFile = log.string();

  ASSERT_TRUE(client.Open());
  EXPECT_TRUE(client.authenticated);
  EXPECT_TRUE(client.sizeAnnounced);
  EXPECT_EQ(client.capabilities,
            (std::vector<std::string>{"SIZE 1000000", "8BITMIME", "AUTH LOGIN CRAM-MD5"}));
  EXPECT_TRUE(client.SendSender("a@b.test", 77));
  const auto received = server.Received();
  ASSERT_EQ(received.size(), 7U);
  // The RFC 2195 example exchange.
  EXPECT_EQ(Base64Decode(received[2]).value_or(""), "tim b913a602c7eda7a495b4e6e7334d3890");
  EXPECT_EQ(received[4], Base64Encode("tim"));
  EXPECT_EQ(received[5], Base64Encode("tanstaaftanstaaf"));
  EXPECT_EQ(received[6], "MAIL FROM:<a@b.test> SIZE=77");

  // The transcript keeps the CRAM-MD5 response and the user name, which give
  // nothing away, but shows a mask for the password, and only its user may
  // read it.
  const std::string transcript = testing::ReadFile(log);
  EXPECT_NE(transcript.find("\r\n" + received[2] + "\r\n"), std::string::npos);
  EXPECT_NE(transcript.find("\r\n" + Base64Encode("tim") + "\r\n\r\n>334 UGFzc3dvcmQ6\r\n"
                            "********\r\n\r\n>235 2.7.0 ok\r\n"),
            std::string::npos);
  EXPECT_EQ(transcript.find(Base64Encode("tanstaaftanstaaf")), std::string::npos);
  struct stat st {};
  ASSERT_EQ(::stat(log.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600U);
}

TEST_F(SmtpClientTest, DataIsDotStuffedAndEveryLineBreakBecomesCrLf) {
  ScriptedServer server([](Connection& c) {
    c.Send("220 fake\r\n");
    c.ReadLine();
    c.Send("250 fake\r\n");
    c.ReadLine();
    c.Send("354 go ahead\r\n");
    c.ReadUntil("\r\n.\r\n");
    c.Send("250 queued\r\n");
  });
  SmtpClient client(clock_);
  Aim(client, server);
  ASSERT_TRUE(client.Open());
  // A bare CR or LF must not end a line on its own; nor may a lone "."
  // hidden behind one end the data early.
  EXPECT_TRUE(client.SendData({".", ".x", "a\rb", "c\nd", "e\r\nf", "g\n.\nRSET", std::string(2000, 'L'), ""}));
  EXPECT_EQ(server.Data(), "..\r\n..x\r\na\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng\r\n..\r\nRSET\r\n" +
                              std::string(2000, 'L') + "\r\n\r\n.\r\n");
}

// A reply the client must survive: it fails the step, within its time-out,
// with a known error.
struct HostileGreeting {
  const char* name;
  std::function<void(Connection&)> script;
  int expectedError;  // 0: the reply arrived but is unusable
};

class HostileServerTest : public SmtpClientTest,
                          public ::testing::WithParamInterface<HostileGreeting> {};

TEST_P(HostileServerTest, OpenFailsInTime) {
  ScriptedServer server(GetParam().script);
  SmtpClient client(clock_);
  Aim(client, server);
  const auto start = SteadyClock::now();
  EXPECT_FALSE(client.Open());
  const auto elapsed = SteadyClock::now() - start;
  EXPECT_EQ(client.SocketError(), GetParam().expectedError);
  EXPECT_NE(client.replyCode, 220);
  EXPECT_LT(elapsed, std::chrono::seconds(3));
  EXPECT_LE(client.replyLine.size(), TcpClient::kDefaultMaxLine);
}

const HostileGreeting kHostileGreetings[] = {
    {"Silent", [](Connection& c) { c.StaySilent(); }, ETIMEDOUT},
    {"ClosesAtOnce", [](Connection&) {}, ECONNRESET},
    {"EndlessLine",
     [](Connection& c) {
       c.Send("220 ");
       const std::string block(4096, 'x');
       for (int i = 0; i < 64 && !c.Stopping(); ++i) c.Send(block);
       c.StaySilent();
     },
     EMSGSIZE},
    {"SlowDripNeverEndingLine",
     [](Connection& c) {
       for (int i = 0; i < 200 && !c.Stopping(); ++i) {
         c.Send("2");
         std::this_thread::sleep_for(std::chrono::milliseconds(20));
       }
     },
     ETIMEDOUT},
    {"EndlessContinuation",
     [](Connection& c) {
       for (int i = 0; i < 2000 && !c.Stopping(); ++i) c.Send("220-still greeting\r\n");
       c.StaySilent();
     },
     EMSGSIZE},
    {"LettersForCode", [](Connection& c) { c.Send("abc hello\r\n"); c.StaySilent(); }, 0},
    {"ShortLine", [](Connection& c) { c.Send("22\r\n"); c.StaySilent(); }, 0},
    {"WrongCode", [](Connection& c) { c.Send("554 go away\r\n"); c.StaySilent(); }, 0},
    {"EhloAndHeloRefused",
     [](Connection& c) {
       c.Send("220 fake\r\n");
       c.ReadLine();
       c.Send("500 what\r\n");
       c.ReadLine();
       c.Send("5xx\r\n");
       c.StaySilent();
     },
     0},
};

INSTANTIATE_TEST_SUITE_P(Replies, HostileServerTest, ::testing::ValuesIn(kHostileGreetings),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(SmtpClientTest, StepsAfterALostConnectionFailAtOnce) {
  ScriptedServer server([](Connection& c) {
    c.Send("220 fake\r\n");
    c.ReadLine();
    c.Send("250 fake\r\n");
  });
  SmtpClient client(clock_);
  Aim(client, server);
  ASSERT_TRUE(client.Open());
  const auto start = SteadyClock::now();
  EXPECT_FALSE(client.SendSender("a@b.test", 0));
  EXPECT_FALSE(client.SendRecipient("c@d.test"));
  EXPECT_FALSE(client.SendData({"x"}));
  EXPECT_FALSE(client.Quit());
  EXPECT_LT(SteadyClock::now() - start, std::chrono::seconds(2));
}

TEST_F(SmtpClientTest, UnknownHostAndClosedPortReportAnError) {
  SmtpClient client(clock_);
  client.replyTimeout = kShortTimeout;
  client.host = "127.0.0.1";
  client.port = "no-such-service-here";
  EXPECT_FALSE(client.Open());
  EXPECT_NE(client.SocketError(), 0);

  // A port that was free a moment ago: nothing listens there.
  int freePort = 0;
  { ScriptedServer probe([](Connection&) {}); freePort = std::stoi(probe.Port()); }
  client.port = std::to_string(freePort);
  EXPECT_FALSE(client.Open());
  EXPECT_EQ(client.SocketError(), ECONNREFUSED);
}

// A reply queued behind "220" of STARTTLS came in the clear, from whoever
// sits on the path: TLS is not started over it and nothing more is sent.
TEST_F(SmtpClientTest, RepliesInjectedAheadOfTheHandshakeEndTheConversation) {
  ScriptedServer server([](Connection& c) {
    c.Send("220 fake ready\r\n");
    c.ReadLine();
    c.Send("250-fake\r\n250 STARTTLS\r\n");
    c.ReadLine();
    c.Send("220 go ahead\r\n250-fake\r\n250 AUTH PLAIN\r\n");
    c.ReadLine();
  });
  SmtpClient client(clock_);
  Aim(client, server);
  client.security = SmtpClient::kStartTlsRequired;
  EXPECT_FALSE(client.Open());
  EXPECT_EQ(client.openFailure, MailFailure::kTls);
  EXPECT_EQ(client.TlsFault(), TlsFailure::kHandshake);
  EXPECT_EQ(server.Received(), (std::vector<std::string>{"EHLO probe.test", "STARTTLS"}));
}

// A refused STARTTLS leaves the clear session as it was: "when offered"
// goes on in it, "required" stops before the sender.
TEST_F(SmtpClientTest, RefusedStartTlsStopsOnlyWhenItIsRequired) {
  for (const int32_t security : {SmtpClient::kStartTlsWhenOffered, SmtpClient::kStartTlsRequired}) {
    ScriptedServer server([](Connection& c) {
      c.Send("220 fake ready\r\n");
      c.ReadLine();
      c.Send("250-fake\r\n250 STARTTLS\r\n");
      c.ReadLine();
      c.Send("454 4.7.0 TLS not available due to temporary reason\r\n");
      if (c.ReadLine().starts_with("MAIL")) c.Send("250 ok\r\n");
    });
    SmtpClient client(clock_);
    Aim(client, server);
    client.security = security;
    const bool required = security == SmtpClient::kStartTlsRequired;
    EXPECT_EQ(client.Open(), !required);
    EXPECT_EQ(client.encryption, MailEncryption::kNone);
    if (required) {
      EXPECT_EQ(client.openFailure, MailFailure::kNoStartTls);
      EXPECT_EQ(client.replyCode, 454);
      EXPECT_EQ(server.Received(), (std::vector<std::string>{"EHLO probe.test", "STARTTLS"}));
    } else {
      EXPECT_TRUE(client.SendSender("a@probe.test", 0));
    }
  }
}

}  // namespace
}  // namespace sentrel
