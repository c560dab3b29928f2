#include "platform/posix/icmp_answer.h"

#include <netinet/in.h>

#include <cstring>

namespace sentrel::posix {

namespace {

constexpr size_t kIcmpHeader = 8;
constexpr uint8_t kEchoReply = 0;
constexpr uint8_t kEchoRequest = 8;
constexpr uint8_t kEcho6Request = 128;
constexpr uint8_t kEcho6Reply = 129;
constexpr size_t kIp6Header = 40;
constexpr uint8_t kNextHeaderIcmp6 = 58;

uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

IpAddress LoadAddress(const uint8_t* p) {
  uint32_t address = 0;
  std::memcpy(&address, p, sizeof address);
  return IpAddress::V4(address);
}

// The length of the IPv4 header that `packet` starts with, or 0 when it is
// not one that can be read within `length` bytes (with `after` more bytes).
size_t IpHeaderLength(const uint8_t* packet, size_t length, size_t after) {
  if (length < 20 || packet[0] >> 4 != 4) return 0;
  const size_t header = size_t{packet[0] & 0x0Fu} * 4;
  if (header < 20 || length < header + after || packet[9] != IPPROTO_ICMP) return 0;
  return header;
}

bool IsErrorType(uint8_t type) { return type == 3 || type == 4 || type == 11 || type == 12; }

}  // namespace

std::optional<IcmpAnswer> ParseRawIcmp(std::span<const uint8_t> datagram) {
  const size_t header = IpHeaderLength(datagram.data(), datagram.size(), kIcmpHeader);
  if (header == 0) return std::nullopt;
  const uint8_t* icmp = datagram.data() + header;
  const IpAddress from = LoadAddress(datagram.data() + 12);
  const uint8_t type = icmp[0];
  // Past its IP header, an echo reply reads as a datagram socket gives it.
  if (type == kEchoReply) return ParseDatagramReply(datagram.subspan(header), from.V4Value());
  if (!IsErrorType(type)) return std::nullopt;
  IcmpAnswer answer;
  answer.from = from;
  // The error quotes the request's IP header and its first 8 bytes.
  const uint8_t* quoted = icmp + kIcmpHeader;
  const size_t rest = datagram.size() - header - kIcmpHeader;
  const size_t quotedHeader = IpHeaderLength(quoted, rest, kIcmpHeader);
  if (quotedHeader == 0) return std::nullopt;
  const uint8_t* request = quoted + quotedHeader;
  if (request[0] != kEchoRequest) return std::nullopt;
  answer.identifier = Load16(request + 4);
  answer.sequence = Load16(request + 6);
  answer.status = IpStatusFromIcmp(type, icmp[1]);
  answer.quotedTarget = LoadAddress(quoted + 16);
  return answer;
}

std::optional<IcmpAnswer> ParseDatagramReply(std::span<const uint8_t> message, uint32_t from) {
  if (message.size() < kIcmpHeader || message[0] != kEchoReply) return std::nullopt;
  IcmpAnswer answer;
  answer.identifier = Load16(&message[4]);
  answer.sequence = Load16(&message[6]);
  answer.from = IpAddress::V4(from);
  answer.status = kIpSuccess;
  return answer;
}

std::optional<IcmpAnswer> ParseIcmp6(std::span<const uint8_t> message, const IpAddress& from) {
  if (message.size() < kIcmpHeader) return std::nullopt;
  IcmpAnswer answer;
  answer.from = from;
  const uint8_t type = message[0];
  if (type == kEcho6Reply) {
    answer.identifier = Load16(&message[4]);
    answer.sequence = Load16(&message[6]);
    answer.status = kIpSuccess;
    return answer;
  }
  // Error types are 0 to 127; 1 to 4 are those a request can get.
  if (type < 1 || type > 4) return std::nullopt;
  // The error quotes as much of the request as fits, its IPv6 header first;
  // a request with extension headers is not ours.
  const uint8_t* quoted = message.data() + kIcmpHeader;
  if (message.size() < kIcmpHeader + kIp6Header + kIcmpHeader || quoted[0] >> 4 != 6 ||
      quoted[6] != kNextHeaderIcmp6)
    return std::nullopt;
  const uint8_t* request = quoted + kIp6Header;
  if (request[0] != kEcho6Request) return std::nullopt;
  answer.identifier = Load16(request + 4);
  answer.sequence = Load16(request + 6);
  answer.status = IpStatusFromIcmp6(type, message[1]);
  IpAddress::Bytes target{};
  std::memcpy(target.data(), quoted + 24, target.size());
  answer.quotedTarget = IpAddress::V6(target);
  return answer;
}

namespace {

void BuildEcho(std::vector<uint8_t>& into, uint8_t type, uint16_t identifier, uint16_t sequence,
               std::span<const uint8_t> data) {
  into.assign(kIcmpHeader + data.size(), 0);
  into[0] = type;
  into[4] = static_cast<uint8_t>(identifier >> 8);
  into[5] = static_cast<uint8_t>(identifier);
  into[6] = static_cast<uint8_t>(sequence >> 8);
  into[7] = static_cast<uint8_t>(sequence);
  if (!data.empty()) std::memcpy(&into[kIcmpHeader], data.data(), data.size());
}

}  // namespace

void BuildEcho6Message(std::vector<uint8_t>& into, uint16_t identifier, uint16_t sequence,
                       std::span<const uint8_t> data) {
  BuildEcho(into, kEcho6Request, identifier, sequence, data);
}

void BuildEchoMessage(std::vector<uint8_t>& into, uint16_t identifier, uint16_t sequence,
                      std::span<const uint8_t> data) {
  BuildEcho(into, kEchoRequest, identifier, sequence, data);
  const uint16_t checksum = InternetChecksum(into);
  into[2] = static_cast<uint8_t>(checksum >> 8);
  into[3] = static_cast<uint8_t>(checksum);
}

}  // namespace sentrel::posix
