#include "probes/address.h"

#include <cstring>

#include "platform/socket_api.h"

namespace sentrel {

uint32_t DottedToAddress(const std::string& text) { return inet_addr(text.c_str()); }

uint32_t ResolveAddress(const std::string& text) {
  if (text.empty()) return kNoAddress;
  const char* c = text.c_str();
  const uint32_t parsed = DottedToAddress(text);
  if (parsed != kNoAddress) return parsed;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_RAW;
  addrinfo* found = nullptr;
  if (getaddrinfo(c, nullptr, &hints, &found) != 0 || found == nullptr) return kNoAddress;
  uint32_t address = kNoAddress;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
      sockaddr_in in{};
      std::memcpy(&in, a->ai_addr, sizeof in);
      address = in.sin_addr.s_addr;
      break;
    }
  }
  freeaddrinfo(found);
  return address;
}

std::string AddressToDotted(uint32_t address) {
  uint32_t host = ntohl(address);
  return std::to_string(host >> 24) + "." + std::to_string(host >> 16 & 0xFF) + "." +
         std::to_string(host >> 8 & 0xFF) + "." + std::to_string(host & 0xFF);
}

std::string AddressToName(uint32_t address) {
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_addr.s_addr = address;
  char name[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&in), sizeof in, name, sizeof name, nullptr,
                  0, NI_NAMEREQD) == 0)
    return name;
  return AddressToDotted(address);
}

namespace {

// One part of a dotted quad: decimal digits only, 0 to 255; else -1.
int ParsePart(const std::string& part) {
  if (part.empty()) return -1;
  int value = 0;
  for (char ch : part) {
    if (ch < '0' || ch > '9') return -1;
    value = value * 10 + (ch - '0');
    if (value > 255) return -1;
  }
  return value;
}

}  // namespace

bool IsDottedQuad(const std::string& text) {
  std::string rest = text;
  for (int i = 0; i < 3; ++i) {
    size_t dot = rest.find('.');
    if (dot == std::string::npos) return false;
    if (ParsePart(rest.substr(0, dot)) < 0) return false;
    rest = rest.substr(dot + 1);
  }
  return ParsePart(rest) >= 0;
}

}  // namespace sentrel
