#include "probes/echo_request.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>

#include "platform/icmp_library.h"

namespace sentrel {

namespace {

void StoreLittle16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

uint16_t LoadLittle16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

std::atomic<uint16_t> sequenceCounter{0};

}  // namespace

std::vector<uint8_t> BuildEchoRequest(uint16_t identifier, uint16_t sequence, uint32_t timestamp,
                                      uint8_t dataSize) {
  std::array<uint8_t, 12> header{8, 0, 0, 0};
  StoreLittle16(&header[4], identifier);
  StoreLittle16(&header[6], sequence);
  for (size_t i = 0; i < 4; ++i) header[8 + i] = static_cast<uint8_t>(timestamp >> (8 * i));
  std::vector<uint8_t> message(header.size() + dataSize, 0xA7);
  std::copy(header.begin(), header.end(), message.begin());
  uint16_t checksum = InternetChecksum(message);
  message[2] = static_cast<uint8_t>(checksum >> 8);
  message[3] = static_cast<uint8_t>(checksum);
  return message;
}

std::optional<RawEchoReply> ParseRawEchoReply(std::span<const uint8_t> datagram,
                                              uint16_t identifier) {
  constexpr size_t kIpHeader = 20;
  if (datagram.size() < kIpHeader + 12 || datagram[0] != 0x45 || datagram[9] != 1 ||
      datagram[kIpHeader] != 0 || LoadLittle16(&datagram[kIpHeader + 4]) != identifier)
    return std::nullopt;
  RawEchoReply reply;
  std::memcpy(&reply.address, &datagram[12], sizeof reply.address);
  reply.sequence = LoadLittle16(&datagram[kIpHeader + 6]);
  reply.ttl = datagram[8];
  for (int i = 0; i < 4; ++i)
    reply.timestamp |= static_cast<uint32_t>(datagram[kIpHeader + 8 + i]) << (8 * i);
  return reply;
}

uint32_t MillisecondsWithinHour() {
  auto now = std::chrono::system_clock::now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  return static_cast<uint32_t>(local.tm_min * 60000 + local.tm_sec * 1000 + ms % 1000);
}

uint16_t NextEchoSequence() { return sequenceCounter.fetch_add(1, std::memory_order_relaxed); }

}  // namespace sentrel
