#include "platform/name_lookup.h"

#include "platform/socket_address.h"

namespace sentrel {

std::vector<IpAddress> LookUpHostAddresses(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  // One entry per address (not one per socket type).
  hints.ai_socktype = SOCK_RAW;
  addrinfo* found = nullptr;
  std::vector<IpAddress> addresses;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return addresses;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (auto address = FromSocketAddress(a->ai_addr, a->ai_addrlen))
      addresses.push_back(*address);
  }
  freeaddrinfo(found);
  return addresses;
}

std::string LookUpAddressName(const IpAddress& address) {
  const SocketAddress socketAddress = ToSocketAddress(address);
  char name[NI_MAXHOST];
  if (getnameinfo(socketAddress.Get(), socketAddress.length, name, sizeof name, nullptr, 0,
                  NI_NAMEREQD) != 0)
    return {};
  return name;
}

uint32_t InterfaceIndex(const std::string& name) { return if_nametoindex(name.c_str()); }

std::string InterfaceName(uint32_t index) {
  char name[IF_NAMESIZE] = {};
  if (index == 0 || if_indextoname(index, name) == nullptr) return {};
  return name;
}

}  // namespace sentrel
