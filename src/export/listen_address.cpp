#include "export/listen_address.h"

#include <arpa/inet.h>

#include <array>
#include <charconv>

#include "common/text.h"

namespace sentrel {

namespace {

bool ParsePort(std::string_view text, uint16_t& port) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

bool IsNumericAddress(bool ipv6, const std::string& address) {
  std::array<unsigned char, 16> bytes{};
  return inet_pton(ipv6 ? AF_INET6 : AF_INET, address.c_str(), bytes.data()) == 1;
}

}  // namespace

bool ListenAddress::Loopback() const {
  std::array<unsigned char, 16> bytes{};
  if (!ipv6) return inet_pton(AF_INET, address.c_str(), bytes.data()) == 1 && bytes[0] == 127;
  if (inet_pton(AF_INET6, address.c_str(), bytes.data()) != 1) return false;
  const std::array<unsigned char, 16> loopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  if (bytes == loopback) return true;
  // ::ffff:127.x.y.z, an IPv4 loopback address in IPv6 form.
  for (std::size_t i = 0; i < 10; ++i) {
    if (bytes[i] != 0) return false;
  }
  return bytes[10] == 0xFF && bytes[11] == 0xFF && bytes[12] == 127;
}

std::string ListenAddress::Text() const {
  const std::string host = ipv6 ? "[" + address + "]" : address;
  return host + ":" + std::to_string(port);
}

std::optional<ListenAddress> ParseListenAddress(std::string_view text, std::string& error) {
  error.clear();
  text = TrimBlanksView(text);
  if (text.empty()) return std::nullopt;
  const std::string quoted = "\"" + std::string(text) + "\"";
  ListenAddress listen;
  std::string_view host = text;
  std::string_view port;
  if (text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) {
      error = quoted + ": the IPv6 address has no closing bracket";
      return std::nullopt;
    }
    host = text.substr(1, close - 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') {
        error = quoted + ": expected \":PORT\" after the bracket";
        return std::nullopt;
      }
      port = rest.substr(1);
      if (port.empty()) port = "-";  // "[::1]:" names no port
    }
    listen.ipv6 = true;
  } else if (text.find(':') != text.rfind(':')) {
    error = quoted + ": an IPv6 address goes in brackets, as in [::1]:" +
            std::to_string(kDefaultMetricsPort);
    return std::nullopt;
  } else if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (port.empty()) port = "-";
  } else if (text.find_first_not_of("0123456789") == std::string_view::npos) {
    host = {};
    port = text;
  }
  if (!port.empty() && !ParsePort(port, listen.port)) {
    error = quoted + ": the port must be a number from 1 to 65535";
    return std::nullopt;
  }
  if (host.empty() && listen.ipv6) {
    error = quoted + ": the brackets hold no address";
    return std::nullopt;
  }
  if (!host.empty()) listen.address = EqualsIgnoringCase(host, "localhost") ? "127.0.0.1" : std::string(host);
  if (!IsNumericAddress(listen.ipv6, listen.address)) {
    error = quoted + ": not a numeric " + (listen.ipv6 ? "IPv6" : "IPv4") + " address";
    return std::nullopt;
  }
  return listen;
}

}  // namespace sentrel
