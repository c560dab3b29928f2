#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace sentrel {

// A raw ICMP socket as the echo engine's fallback path uses it: the caller
// builds whole ICMP messages and receives whole IP datagrams (with their IP
// header). Non-blocking; readiness is learned through a SocketNotifier.
class RawIcmpSocket {
 public:
  virtual ~RawIcmpSocket() = default;

  // Descriptor to watch for readability; -1 for sockets that have none.
  virtual int Descriptor() const = 0;
  virtual bool SetTtl(int ttl) = 0;
  virtual bool SetTos(int tos) = 0;
  // Asks the kernel to drop ICMP messages that do not carry `identifier` (the
  // 16 bits at the echo identifier offset, read high byte first), so that
  // other probes' replies do not crowd this socket. A hint: false when
  // unsupported, and the caller checks every datagram anyway.
  virtual bool KeepOnlyIdentifier(uint16_t identifier) = 0;
  // Sends one ICMP message to `address` (network byte order). False on error.
  virtual bool SendTo(uint32_t address, std::span<const uint8_t> message) = 0;
  // Receives one datagram into `buffer`, at most its size (the rest of a
  // longer datagram is dropped). Returns the bytes stored, or -1 when nothing
  // is waiting or on error.
  virtual long Receive(std::span<uint8_t> buffer) = 0;
};

// Opens a real raw ICMP socket; nullptr without the privilege.
std::unique_ptr<RawIcmpSocket> OpenRawIcmpSocket();

using RawIcmpSocketOpener = std::function<std::unique_ptr<RawIcmpSocket>()>;

}  // namespace sentrel
