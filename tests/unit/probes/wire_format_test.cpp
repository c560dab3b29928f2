
#include <array>
#include <cerrno>
#include <algorithm>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "platform/icmp_library.h"
#include "platform/socket_api.h"
#include "probes/echo_request.h"

namespace sentrel {
namespace {

bool ChecksumVerifies(const std::vector<uint8_t>& message) {
  // A message holding its own checksum sums to all ones, so checks to 0.
  return InternetChecksum(message) == 0;
}

TEST(InternetChecksumTest, MatchesTheWorkedExampleOfRfc1071) {
  // Words 0001 f203 f4f5 f6f7 sum to ddf2 with the carries folded in.
  std::array<uint8_t, 8> bytes{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
  EXPECT_EQ(InternetChecksum(bytes), 0xFFFF - 0xddf2);
}

TEST(InternetChecksumTest, OddTrailingByteCountsAsHighByteOfAFinalWord) {
  std::array<uint8_t, 3> odd{0x12, 0x34, 0x56};
  EXPECT_EQ(InternetChecksum(odd), static_cast<uint16_t>(~(0x1234 + 0x5600)));
  EXPECT_EQ(InternetChecksum({}), 0xFFFF);
}

class EchoRequestTest : public ::testing::TestWithParam<uint8_t> {};

TEST_P(EchoRequestTest, LayoutAndChecksumHoldForEveryDataSize) {
  const uint8_t dataSize = GetParam();
  std::vector<uint8_t> message = BuildEchoRequest(0x1234, 0xBEEF, 0x00A1B2C3, dataSize);
  ASSERT_EQ(message.size(), 12 + dataSize);
  EXPECT_EQ(message[0], 8);
  EXPECT_EQ(message[1], 0);
  EXPECT_EQ(message[4], 0x34);  // identifier, little-endian
  EXPECT_EQ(message[5], 0x12);
  EXPECT_EQ(message[6], 0xEF);  // sequence, little-endian
  EXPECT_EQ(message[7], 0xBE);
  EXPECT_EQ(message[8], 0xC3);  // timestamp, little-endian
  EXPECT_EQ(message[11], 0x00);
  for (size_t i = 12; i < message.size(); ++i) ASSERT_EQ(message[i], 0xA7) << i;
  EXPECT_TRUE(ChecksumVerifies(message));
  if (dataSize > 0) {
    // The last byte is covered, also when it stands alone in an odd size.
    message.back() ^= 0x01;
    EXPECT_FALSE(ChecksumVerifies(message));
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, EchoRequestTest, ::testing::Values<uint8_t>(0, 1, 2, 3, 32, 63, 64, 255));

// An IPv4 datagram around an ICMP message, as a raw socket delivers it.
std::vector<uint8_t> Datagram(const std::vector<uint8_t>& icmp, uint8_t versionAndLength = 0x45) {
  std::vector<uint8_t> packet(20, 0);
  packet[0] = versionAndLength;
  packet[8] = 64;
  packet[9] = 1;
  const uint8_t source[4] = {198, 18, 3, 2};
  std::copy(source, source + 4, packet.begin() + 12);
  while (packet.size() < (versionAndLength & 0x0Fu) * 4) packet.push_back(0);
  for (uint8_t byte : icmp) packet.push_back(byte);
  return packet;
}

std::vector<uint8_t> ReplyTo(std::vector<uint8_t> request) {
  request[0] = 0;
  return request;
}

TEST(RawEchoReplyTest, AcceptsOnlyOurEchoReplies) {
  const uint16_t id = 0x0102;
  std::vector<uint8_t> request = BuildEchoRequest(id, 77, 123456, 16);

  auto good = ParseRawEchoReply(Datagram(ReplyTo(request)), id);
  ASSERT_TRUE(good.has_value());
  EXPECT_EQ(good->sequence, 77);
  EXPECT_EQ(good->timestamp, 123456u);
  EXPECT_EQ(good->address, inet_addr("198.18.3.2"));
  EXPECT_EQ(good->ttl, 64);

  EXPECT_FALSE(ParseRawEchoReply(Datagram(request), id)) << "own request seen on loopback";
  EXPECT_FALSE(ParseRawEchoReply(Datagram(ReplyTo(request)), id + 1)) << "another probe's";
  EXPECT_FALSE(ParseRawEchoReply(Datagram(ReplyTo(request), 0x46), id)) << "IP options";
  std::vector<uint8_t> shortOne = Datagram(ReplyTo(request));
  shortOne.resize(31);
  EXPECT_FALSE(ParseRawEchoReply(shortOne, id)) << "no room for the timestamp";
  std::vector<uint8_t> unreachable = ReplyTo(request);
  unreachable[0] = 3;
  EXPECT_FALSE(ParseRawEchoReply(Datagram(unreachable), id)) << "an error is not a reply";
}

struct StatusCase {
  uint8_t type;
  uint8_t code;
  uint32_t status;
};

class IcmpStatusTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(IcmpStatusTest, MapsToTheLibraryStatus) {
  EXPECT_EQ(IpStatusFromIcmp(GetParam().type, GetParam().code), GetParam().status)
      << int{GetParam().type} << "/" << int{GetParam().code};
}

INSTANTIATE_TEST_SUITE_P(
    Table, IcmpStatusTest,
    ::testing::Values(StatusCase{0, 0, 0}, StatusCase{3, 0, 11002}, StatusCase{3, 6, 11002},
                      StatusCase{3, 9, 11002}, StatusCase{3, 11, 11002}, StatusCase{3, 1, 11003},
                      StatusCase{3, 7, 11003}, StatusCase{3, 10, 11003}, StatusCase{3, 13, 11003},
                      StatusCase{3, 15, 11003}, StatusCase{3, 2, 11004}, StatusCase{3, 3, 11005},
                      StatusCase{3, 4, 11009}, StatusCase{3, 5, 11012}, StatusCase{11, 0, 11013},
                      StatusCase{11, 1, 11014}, StatusCase{12, 0, 11015}, StatusCase{4, 0, 11016},
                      StatusCase{5, 1, 11050}, StatusCase{8, 0, 11050}));

TEST(IcmpIdentifierTest, HeldIdentifiersAreNeverHandedOutTwice) {
  std::vector<uint16_t> held;
  std::vector<bool> seen(65536, false);
  for (int i = 0; i < 1000; ++i) {
    uint16_t id = 0;
    ASSERT_TRUE(AcquireIcmpIdentifier(id));
    ASSERT_FALSE(seen[id]) << id;
    seen[id] = true;
    held.push_back(id);
  }
  for (uint16_t id : held) ReleaseIcmpIdentifier(id);
}

}  // namespace
}  // namespace sentrel
