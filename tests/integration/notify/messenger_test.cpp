#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_desktop.h"
#include "fakes/text_samples.h"
#include "notify/messenger_datagram.h"
#include "notify/send_net_message.h"
#include "platform/mailslot.h"
#include "settings/code_page.h"
#include "settings/text_model.h"

namespace sentrel {
namespace {

using testing::FakeDesktop;
using testing::kTextSamples;
using testing::TextSample;

// Reads back what a Windows computer's datagram service would see.
struct ParsedDatagram {
  uint8_t type = 0, flags = 0;
  uint32_t sourceAddress = 0;  // network byte order
  uint16_t sourcePort = 0, length = 0, offset = 0;
  std::string sourceName, destinationName;  // decoded, blanks and suffix kept
  std::vector<uint16_t> words;
  uint16_t byteCount = 0;
  std::string mailslot;
  std::string sender, recipient, text;
  std::size_t payloadSize = 0;
};

uint16_t Big16(const std::string& b, std::size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) << 8 | static_cast<uint8_t>(b[at + 1]));
}
uint16_t Little16(const std::string& b, std::size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at + 1]) << 8 | static_cast<uint8_t>(b[at]));
}

// First-level decoding of RFC 1001: 0x20, 32 letters, 0x00.
std::optional<std::string> DecodeName(const std::string& b, std::size_t at) {
  if (b[at] != 0x20 || b[at + 33] != 0) return std::nullopt;
  std::string name;
  for (std::size_t i = 0; i < 16; ++i) {
    const int high = b[at + 1 + 2 * i] - 'A';
    const int low = b[at + 2 + 2 * i] - 'A';
    if (high < 0 || high > 15 || low < 0 || low > 15) return std::nullopt;
    name += static_cast<char>(high << 4 | low);
  }
  return name;
}

std::optional<ParsedDatagram> Parse(const std::string& b) {
  if (b.size() < 169) return std::nullopt;
  ParsedDatagram d;
  d.type = static_cast<uint8_t>(b[0]);
  d.flags = static_cast<uint8_t>(b[1]);
  std::memcpy(&d.sourceAddress, b.data() + 4, 4);
  d.sourcePort = Big16(b, 8);
  d.length = Big16(b, 10);
  d.offset = Big16(b, 12);
  const auto source = DecodeName(b, 14);
  const auto destination = DecodeName(b, 48);
  if (!source || !destination) return std::nullopt;
  d.sourceName = *source;
  d.destinationName = *destination;
  if (b.compare(82, 4, "\xFFSMB") != 0 || b[86] != 0x25 || b[114] != 17) return std::nullopt;
  for (std::size_t i = 0; i < 17; ++i) d.words.push_back(Little16(b, 115 + 2 * i));
  d.byteCount = Little16(b, 149);
  d.mailslot = std::string(b.c_str() + 151);
  // The data offset counts from the SMB header at 82.
  const std::size_t data = 82 + d.words[12];
  const std::size_t size = d.words[11];
  if (data + size != b.size()) return std::nullopt;
  d.payloadSize = size;
  const std::string payload = b.substr(data, size);
  const std::size_t z1 = payload.find('\0');
  const std::size_t z2 = payload.find('\0', z1 + 1);
  const std::size_t z3 = payload.find('\0', z2 + 1);
  if (z3 != payload.size() - 1) return std::nullopt;
  d.sender = payload.substr(0, z1);
  d.recipient = payload.substr(z1 + 1, z2 - z1 - 1);
  d.text = payload.substr(z2 + 1, z3 - z2 - 1);
  return d;
}

class MessengerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    settings_.port = ntohs(address.sin_port);
    settings_.computerName = "Watcher";
  }
  void TearDown() override { close(fd_); }

  // The next datagram within one second; empty when none came.
  std::string Receive() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 1000) != 1) return {};
    std::string buffer(65536, '\0');
    const ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
    buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return buffer;
  }

  int fd_ = -1;
  MessengerSettings settings_;
  FakeDesktop desktop_;
};

TEST_F(MessengerTest, DatagramCarriesTheMailslotWriteAndTheThreeStrings) {
  SendNetMessage("127.0.0.1", "router1 is lost", "Alarm", desktop_, settings_);
  const std::string bytes = Receive();
  const auto d = Parse(bytes);
  ASSERT_TRUE(d.has_value()) << bytes.size();

  EXPECT_EQ(d->type, 0x10);
  EXPECT_EQ(d->flags, 0x02);
  EXPECT_EQ(d->sourceAddress, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(d->sourcePort, 138);
  EXPECT_EQ(d->length, bytes.size() - 14);
  EXPECT_EQ(d->offset, 0);
  EXPECT_EQ(d->sourceName, std::string("WATCHER        ") + '\0');
  EXPECT_EQ(d->destinationName, "127.0.0.1      \x03");
  const std::size_t L = d->payloadSize;
  EXPECT_EQ(d->words, (std::vector<uint16_t>{0, static_cast<uint16_t>(L), 0, 0, 0, 0, 0, 0, 0, 0,
                                              0, static_cast<uint16_t>(L), 87, 3, 1, 0, 2}));
  EXPECT_EQ(d->byteCount, 18 + L);
  EXPECT_EQ(d->mailslot, "\\MAILSLOT\\MESSNGR");
  EXPECT_EQ(d->sender, "Watcher");
  EXPECT_EQ(d->recipient, "127.0.0.1");
  EXPECT_EQ(d->text, "Subj:Alarm\r\n\r\nrouter1 is lost");
  EXPECT_TRUE(desktop_.Calls().empty());
}

TEST_F(MessengerTest, LongTextIsCutToTheMessageBuffer) {
  SendNetMessage("127.0.0.1", std::string(20000, 'b'), "###", desktop_, settings_);
  const auto d = Parse(Receive());
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ(d->payloadSize, kMessengerBufferSize);
  EXPECT_EQ(d->text, std::string(kMessengerBufferSize - 3 - 7 - 9, 'b'));
  EXPECT_EQ(d->length, 155 + kMessengerBufferSize);
}

class MessengerTextTest : public MessengerTest,
                          public ::testing::WithParamInterface<TextSample> {};

// What a Windows computer in that code page reads from the datagram.
TEST_P(MessengerTextTest, TextArrivesInTheOemCodePageThatCoversIt) {
  SendNetMessage("127.0.0.1", std::string(GetParam().text), "###", desktop_, settings_);
  const auto d = Parse(Receive());
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ(CodePageToUtf8(d->text, GetParam().oemCodePage), GetParam().oemText);
  EXPECT_EQ(d->sender, "Watcher");
}

INSTANTIATE_TEST_SUITE_P(Samples, MessengerTextTest, ::testing::ValuesIn(kTextSamples),
                         testing::SampleName);

TEST_F(MessengerTest, NamesAreUpperCasedInTheCodePageOfTheText) {
  struct Case {
    const char* computer;
    const char* text;
    int codePage;
    const char* upper;
  };
  for (const Case& c :
       {Case{"Küche", "Größe", 850, "KÜCHE"}, Case{"Кухня", "Сервер", 866, "КУХНЯ"}}) {
    settings_.computerName = c.computer;
    SendNetMessage("127.0.0.1", c.text, "###", desktop_, settings_);
    const auto d = Parse(Receive());
    ASSERT_TRUE(d.has_value());
    const std::string name = d->sourceName.substr(0, d->sourceName.find(' '));
    EXPECT_EQ(CodePageToUtf8(name, c.codePage), c.upper);
    EXPECT_EQ(CodePageToUtf8(d->sender, c.codePage), c.computer);
    EXPECT_EQ(CodePageToUtf8(d->text, c.codePage), c.text);
  }
}

// With the receivers' code page set, every message goes in it, whatever its
// text; "*" goes to every computer as a broadcast to the wildcard name.
TEST_F(MessengerTest, FixedCodePageForEveryMessageAndAStarForEveryComputer) {
  settings_.codePage = 850;
  for (const char* text : {"Zürich-Gerät", "Сервер Zürich"}) {
    SendNetMessage("127.0.0.1", text, "###", desktop_, settings_);
    const auto d = Parse(Receive());
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->text, TextForCodePage(text, 850)) << text;
  }
  EXPECT_EQ(CodePageToUtf8(TextForCodePage("Zürich-Gerät", 850), 850), "Zürich-Gerät");

  const int all = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(settings_.port);
  inet_pton(AF_INET, "127.255.255.255", &address.sin_addr);
  ASSERT_EQ(bind(all, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  settings_.broadcastAddress = "127.255.255.255";
  EXPECT_TRUE(SendNetMessage("*", "to all", "###", desktop_, settings_));
  pollfd p{all, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 1000), 1);
  std::string bytes(65536, '\0');
  bytes.resize(static_cast<std::size_t>(std::max<ssize_t>(0, recv(all, bytes.data(), bytes.size(), 0))));
  close(all);
  const auto d = Parse(bytes);
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ(d->type, 0x12);
  EXPECT_EQ(d->destinationName, "*" + std::string(15, '\0'));
  EXPECT_EQ(d->recipient, "*");
  EXPECT_EQ(d->text, "to all");
  EXPECT_TRUE(desktop_.Calls().empty());
}

TEST(MailslotComputer, NetbiosNamesHostNamesAndTheStar) {
  for (const char* good : {"*", "PC-1", "O'BRIEN$", "LAB PC #2", "büro{1}", "host.example.org"}) {
    EXPECT_TRUE(IsValidMailslotComputer(good)) << good;
  }
  for (const char* bad : {"", "a*b", "a\\b", "a:b", "a?b", "x|y", "sixteen chars 16", "a\tb"}) {
    EXPECT_FALSE(IsValidMailslotComputer(bad)) << bad;
  }
}

TEST_F(MessengerTest, UnresolvableRecipientShowsErrorAndEmptyOneIsIgnored) {
  // Sixteen characters with blanks are neither a host name nor a NetBIOS
  // name: refused before any lookup leaves the machine.
  SendNetMessage("no such computer", "x", "y", desktop_, settings_);
  SendNetMessage("", "x", "y", desktop_, settings_);
  EXPECT_EQ(desktop_.Calls(), std::vector<std::string>{"box:Sentrel:Error"});
  EXPECT_TRUE(Receive().empty());
}

}  // namespace
}  // namespace sentrel
