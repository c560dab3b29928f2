#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sentrel {

// The network end of a remote mailslot write: one UDP datagram to the NetBIOS
// datagram port of a named computer.
class RemoteMailslot {
 public:
  static constexpr uint16_t kNetbiosDatagramPort = 138;

  // `port` is the destination port; tests use an unprivileged one.
  // `broadcastAddress` is where a write to "*" goes (dotted IPv4).
  explicit RemoteMailslot(uint16_t port = kNetbiosDatagramPort,
                          std::string broadcastAddress = "255.255.255.255")
      : port_(port), broadcastAddress_(std::move(broadcastAddress)) {}
  ~RemoteMailslot();
  RemoteMailslot(const RemoteMailslot&) = delete;
  RemoteMailslot& operator=(const RemoteMailslot&) = delete;

  // Resolves `computer` to an IPv4 address and prepares a socket towards it;
  // "*" stands for every computer of the network (a broadcast). False when
  // the name does not resolve; names that are neither host names nor NetBIOS
  // names are refused without a lookup (IsValidMailslotComputer).
  bool Open(const std::string& computer);

  // Our address on the route to the computer, network byte order (after Open).
  uint32_t LocalAddress() const { return localAddress_; }

  // Sends the datagram; true when the system accepted it (mailslot writes are
  // never acknowledged by the receiver).
  bool Write(const std::vector<uint8_t>& datagram);

  void Close();

 private:
  uint16_t port_;
  std::string broadcastAddress_;
  int fd_ = -1;
  uint32_t localAddress_ = 0;
};

// True when `name` can be looked up as a host name: letters, digits, "-", "_"
// and dots, labels of 1..63 characters, 253 characters in all.
bool IsValidHostName(const std::string& name);

// The recipient of a messenger message that names every computer of the
// network (the domain, where there is one).
inline constexpr const char* kAllComputers = "*";

// True for "*", for a host name, and for a NetBIOS computer name: 1..15
// characters, none a control character or one of \ / : * ? " < > |
// (blanks, "$", "'", "!", "&", "#", "{" and the like are allowed).
bool IsValidMailslotComputer(const std::string& name);

// This computer's name as other computers address it: the host name up to
// its first dot.
std::string LocalComputerName();

}  // namespace sentrel
