#pragma once

#include <optional>

#include "common/ip_address.h"
#include "platform/socket_api.h"

// Inside the platform layer: between the program's addresses and the socket
// calls' records.
namespace sentrel {

struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
  const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

// Port 0; an IPv6 address takes its zone as the scope.
SocketAddress ToSocketAddress(const IpAddress& address);

// nullopt for a family other than IPv4 and IPv6, or a record too short.
std::optional<IpAddress> FromSocketAddress(const sockaddr* address, socklen_t length);

}  // namespace sentrel
