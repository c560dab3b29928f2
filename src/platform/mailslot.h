#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sentrel {

// The network end of a remote mailslot write: one UDP datagram to the NetBIOS
// datagram port of a named computer.
class RemoteMailslot {
 public:
  static constexpr uint16_t kNetbiosDatagramPort = 138;

  // `port` is the destination port; tests use an unprivileged one.
  explicit RemoteMailslot(uint16_t port = kNetbiosDatagramPort) : port_(port) {}
  ~RemoteMailslot();
  RemoteMailslot(const RemoteMailslot&) = delete;
  RemoteMailslot& operator=(const RemoteMailslot&) = delete;

  // Resolves `computer` to an IPv4 address and prepares a socket towards it.
  // False when the name is not a valid host name or does not resolve; names
  // holding characters a host name cannot have are refused without a lookup.
  bool Open(const std::string& computer);

  // Our address on the route to the computer, network byte order (after Open).
  uint32_t LocalAddress() const { return localAddress_; }

  // Sends the datagram; true when the system accepted it (mailslot writes are
  // never acknowledged by the receiver).
  bool Write(const std::vector<uint8_t>& datagram);

  void Close();

 private:
  uint16_t port_;
  int fd_ = -1;
  uint32_t localAddress_ = 0;
};

// True when `name` can be looked up as a host name: letters, digits, "-", "_"
// and dots, labels of 1..63 characters, 253 characters in all.
bool IsValidHostName(const std::string& name);

// This computer's name as other computers address it: the host name up to
// its first dot.
std::string LocalComputerName();

}  // namespace sentrel
