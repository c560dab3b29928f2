#include "platform/posix/icmp_answer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace sentrel::posix {
namespace {

// An IPv4 datagram from `source` carrying `payload`, with `optionWords`
// 32-bit words of IP options.
std::vector<uint8_t> Ip(const char* source, const char* destination,
                        const std::vector<uint8_t>& payload, int optionWords = 0) {
  std::vector<uint8_t> packet(20 + 4 * static_cast<size_t>(optionWords), 0);
  packet[0] = static_cast<uint8_t>(0x45 + optionWords);
  packet[8] = 64;
  packet[9] = 1;  // ICMP
  const uint32_t from = inet_addr(source);
  const uint32_t to = inet_addr(destination);
  std::memcpy(&packet[12], &from, 4);
  std::memcpy(&packet[16], &to, 4);
  packet.insert(packet.end(), payload.begin(), payload.end());
  return packet;
}

std::vector<uint8_t> Request(uint16_t identifier, uint16_t sequence, size_t dataSize = 8) {
  std::vector<uint8_t> message;
  std::vector<uint8_t> data(dataSize, 0xA7);
  BuildEchoMessage(message, identifier, sequence, data);
  return message;
}

// An ICMP error of `type`/`code` from a router that quotes `request` as it
// left us for `target`.
std::vector<uint8_t> Error(uint8_t type, uint8_t code, const char* router, const char* target,
                           const std::vector<uint8_t>& request, int quotedOptionWords = 0) {
  std::vector<uint8_t> quoted = Ip("198.18.1.2", target, request, quotedOptionWords);
  quoted.resize(quoted.size() - request.size() + 8);  // the IP header and 8 bytes
  std::vector<uint8_t> icmp{type, code, 0, 0, 0, 0, 0, 0};
  icmp.insert(icmp.end(), quoted.begin(), quoted.end());
  return Ip(router, "198.18.1.2", icmp);
}

TEST(EchoMessageTest, CarriesIdentifierSequenceAndDataUnderAValidChecksum) {
  for (size_t size : {0u, 1u, 56u, 255u}) {
    std::vector<uint8_t> m = Request(0xBEEF, 0x0102, size);
    ASSERT_EQ(m.size(), 8 + size);
    EXPECT_EQ(m[0], 8);
    EXPECT_EQ(m[1], 0);
    EXPECT_EQ(m[4], 0xBE);
    EXPECT_EQ(m[5], 0xEF);
    EXPECT_EQ(m[6], 0x01);
    EXPECT_EQ(m[7], 0x02);
    // A message with its checksum sums to all ones: the checksum of it is 0.
    EXPECT_EQ(InternetChecksum(m), 0) << "size " << size;
  }
}

TEST(RawAnswerTest, AnEchoReplyNamesItsRequestAndWhoSentIt) {
  std::vector<uint8_t> reply = Request(0x1234, 900);
  reply[0] = 0;
  for (int options : {0, 2}) {
    auto answer = ParseRawIcmp(Ip("198.18.3.2", "198.18.1.2", reply, options));
    ASSERT_TRUE(answer.has_value()) << options;
    EXPECT_EQ(answer->identifier, 0x1234);
    EXPECT_EQ(answer->sequence, 900);
    EXPECT_EQ(answer->status, kIpSuccess);
    EXPECT_EQ(answer->from, IpAddress::V4(inet_addr("198.18.3.2")));
    EXPECT_FALSE(answer->quotedTarget.has_value());
  }
}

TEST(RawAnswerTest, AnErrorNamesTheRequestItQuotesAndItsTarget) {
  const std::vector<uint8_t> request = Request(0x1234, 77);
  for (int quotedOptions : {0, 1}) {
    auto expired = ParseRawIcmp(Error(11, 0, "198.18.1.1", "198.18.3.2", request, quotedOptions));
    ASSERT_TRUE(expired.has_value()) << quotedOptions;
    EXPECT_EQ(expired->identifier, 0x1234);
    EXPECT_EQ(expired->sequence, 77);
    EXPECT_EQ(expired->status, kIpTtlExpiredTransit);
    EXPECT_EQ(expired->from, IpAddress::V4(inet_addr("198.18.1.1")));
    EXPECT_EQ(expired->quotedTarget, IpAddress::V4(inet_addr("198.18.3.2")));
  }
  auto unreachable = ParseRawIcmp(Error(3, 1, "198.18.2.2", "198.18.9.1", request));
  ASSERT_TRUE(unreachable.has_value());
  EXPECT_EQ(unreachable->status, kIpDestHostUnreachable);
}

TEST(RawAnswerTest, WhatIsNoAnswerToAnEchoRequestIsRefused) {
  const std::vector<uint8_t> request = Request(0x1234, 77);
  EXPECT_FALSE(ParseRawIcmp(Ip("127.0.0.1", "127.0.0.1", request))) << "our own request on loopback";
  std::vector<uint8_t> redirect = request;
  redirect[0] = 5;
  EXPECT_FALSE(ParseRawIcmp(Ip("198.18.1.1", "198.18.1.2", redirect))) << "not an error we match";
  std::vector<uint8_t> udp = Error(3, 3, "198.18.3.2", "198.18.3.2", request);
  udp[20 + 8 + 9] = 17;
  EXPECT_FALSE(ParseRawIcmp(udp)) << "quotes a UDP datagram";
  std::vector<uint8_t> quotedReply = request;
  quotedReply[0] = 0;
  EXPECT_FALSE(ParseRawIcmp(Error(11, 0, "198.18.1.1", "198.18.3.2", quotedReply)))
      << "quotes something that is not an echo request";
  // Cut anywhere before the last byte that is read: never read past the end.
  const std::vector<uint8_t> whole = Error(11, 0, "198.18.1.1", "198.18.3.2", request);
  for (size_t length = 0; length < whole.size(); ++length) {
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(length));
    EXPECT_FALSE(ParseRawIcmp(cut)) << "length " << length;
  }
  std::vector<uint8_t> notIpv4 = Ip("198.18.3.2", "198.18.1.2", request);
  notIpv4[0] = 0x65;
  EXPECT_FALSE(ParseRawIcmp(notIpv4));
}

std::optional<IpAddress> ParseAddress6(const char* text) {
  IpAddress::Bytes bytes{};
  if (inet_pton(AF_INET6, text, bytes.data()) != 1) return std::nullopt;
  return IpAddress::V6(bytes);
}

TEST(DatagramAnswerTest, OnlyEchoRepliesLongEnoughToNameARequest) {
  std::vector<uint8_t> reply = Request(0x4321, 5, 0);
  reply[0] = 0;
  auto answer = ParseDatagramReply(reply, inet_addr("127.0.0.9"));
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(answer->identifier, 0x4321);
  EXPECT_EQ(answer->sequence, 5);
  EXPECT_EQ(answer->from, IpAddress::V4(inet_addr("127.0.0.9")));
  EXPECT_FALSE(ParseDatagramReply(std::span(reply).first(7), 0));
  reply[0] = 8;
  EXPECT_FALSE(ParseDatagramReply(reply, 0));
}

// An ICMPv6 error as both socket kinds receive it: no IP header of its own,
// then the quoted IPv6 header (next header ICMPv6) and the request.
std::vector<uint8_t> Error6(uint8_t type, uint8_t code, const std::vector<uint8_t>& request,
                            const char* target, uint8_t nextHeader = 58) {
  std::vector<uint8_t> message{type, code, 0, 0, 0, 0, 0, 0};
  std::vector<uint8_t> quoted(40, 0);
  quoted[0] = 0x60;
  quoted[6] = nextHeader;
  inet_pton(AF_INET6, target, &quoted[24]);
  message.insert(message.end(), quoted.begin(), quoted.end());
  message.insert(message.end(), request.begin(), request.end());
  return message;
}

TEST(Icmp6AnswerTest, RepliesAndErrorsThatNameOurRequest) {
  const IpAddress router = *ParseAddress6("fd00::1");
  std::vector<uint8_t> request;
  BuildEcho6Message(request, 0x1234, 77, std::vector<uint8_t>(8, 0xA7));
  ASSERT_EQ(request[0], 128);

  std::vector<uint8_t> reply = request;
  reply[0] = 129;
  const auto answer = ParseIcmp6(reply, router);
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(answer->status, kIpSuccess);
  EXPECT_EQ(answer->sequence, 77);
  EXPECT_FALSE(answer->quotedTarget.has_value());

  const auto expired = ParseIcmp6(Error6(3, 0, request, "2001:db8::7"), router);
  ASSERT_TRUE(expired.has_value());
  EXPECT_EQ(expired->status, kIpTtlExpiredTransit);
  EXPECT_EQ(expired->identifier, 0x1234);
  EXPECT_EQ(expired->sequence, 77);
  EXPECT_EQ(expired->from, router);
  EXPECT_EQ(expired->quotedTarget, ParseAddress6("2001:db8::7"));

  EXPECT_FALSE(ParseIcmp6(request, router)) << "our own request on loopback";
  EXPECT_FALSE(ParseIcmp6(Error6(137, 0, request, "2001:db8::7"), router)) << "a redirect";
  EXPECT_FALSE(ParseIcmp6(Error6(1, 3, request, "2001:db8::7", 17), router)) << "quotes UDP";
  const std::vector<uint8_t> whole = Error6(1, 3, request, "2001:db8::7");
  for (size_t length = 0; length < 56; ++length)
    EXPECT_FALSE(ParseIcmp6(std::span(whole).first(length), router)) << "length " << length;
}

// What each ICMPv6 error reports, row by row as the table beside the code
// writes it down.
TEST(Icmp6StatusTest, EveryRowOfTheTable) {
  struct Row {
    uint8_t type, code;
    uint32_t status;
  };
  const Row rows[] = {
      {1, 0, 11002}, {1, 1, 11004}, {1, 2, 11003}, {1, 3, 11003}, {1, 4, 11005},
      {1, 5, 11004}, {1, 6, 11004}, {1, 7, 11003}, {2, 0, 11009}, {3, 0, 11013},
      {3, 1, 11014}, {4, 0, 11015}, {4, 2, 11015}, {129, 0, 0},   {128, 0, 11050},
      {137, 0, 11050}, {0, 0, 11050},
  };
  for (const Row& row : rows)
    EXPECT_EQ(IpStatusFromIcmp6(row.type, row.code), row.status)
        << "type " << int{row.type} << " code " << int{row.code};
}

}  // namespace
}  // namespace sentrel::posix
