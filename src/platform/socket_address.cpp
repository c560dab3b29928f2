#include "platform/socket_address.h"

#include <cstring>

namespace sentrel {

SocketAddress ToSocketAddress(const IpAddress& address) {
  SocketAddress out;
  if (address.IsV6()) {
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    std::memcpy(&in6.sin6_addr, address.V6Bytes().data(), 16);
    in6.sin6_scope_id = address.Zone();
    std::memcpy(&out.storage, &in6, sizeof in6);
    out.length = sizeof in6;
  } else {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = address.V4Value();
    std::memcpy(&out.storage, &in, sizeof in);
    out.length = sizeof in;
  }
  return out;
}

std::optional<IpAddress> FromSocketAddress(const sockaddr* address, socklen_t length) {
  // socklen_t is unsigned with BSD sockets, int with Windows Sockets.
  const auto size = static_cast<std::size_t>(length);
  if (address == nullptr || size < sizeof address->sa_family) return std::nullopt;
  if (address->sa_family == AF_INET && size >= sizeof(sockaddr_in)) {
    sockaddr_in in{};
    std::memcpy(&in, address, sizeof in);
    return IpAddress::V4(in.sin_addr.s_addr);
  }
  if (address->sa_family == AF_INET6 && size >= sizeof(sockaddr_in6)) {
    sockaddr_in6 in6{};
    std::memcpy(&in6, address, sizeof in6);
    IpAddress::Bytes bytes{};
    std::memcpy(bytes.data(), &in6.sin6_addr, 16);
    return IpAddress::V6(bytes, in6.sin6_scope_id);
  }
  return std::nullopt;
}

}  // namespace sentrel
