#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sentrel {

// The echo request of the raw-socket path, 12 + dataSize bytes:
// type 8, code 0, checksum (RFC 1071), identifier and sequence stored
// little-endian, a 4-byte little-endian timestamp, then dataSize bytes 0xA7.
std::vector<uint8_t> BuildEchoRequest(uint16_t identifier, uint16_t sequence, uint32_t timestamp,
                                      uint8_t dataSize);

// What the receive checks take from a datagram (IP header included).
struct RawEchoReply {
  uint32_t address = 0;  // source, network byte order
  uint16_t sequence = 0;
  uint32_t timestamp = 0;
  uint8_t ttl = 0;  // what the reply's IP header had left
};

// Accepts only an IPv4 datagram with a plain 20-byte header that carries an
// echo reply (type 0) with `identifier` and room for the timestamp. Anything
// else (our own requests seen on loopback, errors, other probes' replies,
// short or optioned datagrams) gives nullopt.
std::optional<RawEchoReply> ParseRawEchoReply(std::span<const uint8_t> datagram,
                                              uint16_t identifier);

// Local time as milliseconds within the current hour (the timestamp field).
uint32_t MillisecondsWithinHour();

// The process-wide request counter: 0 first, wraps at 65536. Thread-safe.
uint16_t NextEchoSequence();

}  // namespace sentrel
