#include "export/listen_address.h"

#include <array>
#include <charconv>
#include <vector>

#include "common/text.h"

namespace sentrel {

namespace {

using Ipv4 = std::array<uint8_t, 4>;
using Ipv6 = std::array<uint8_t, 16>;

bool ParsePort(std::string_view text, uint16_t& port) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

// One number of `base` taking all of `text`, up to `digits` digits.
bool ParseWhole(std::string_view text, int base, std::size_t digits, unsigned& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
  return !text.empty() && text.size() <= digits && ec == std::errc() && ptr == end;
}

// Exactly four decimal parts of 0 to 255.
std::optional<Ipv4> ParseIpv4(std::string_view text) {
  Ipv4 bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::size_t dot = text.find('.');
    if ((dot == std::string_view::npos) != (i == bytes.size() - 1)) return std::nullopt;
    unsigned value = 0;
    if (!ParseWhole(text.substr(0, dot), 10, 3, value) || value > 255) return std::nullopt;
    bytes[i] = static_cast<uint8_t>(value);
    text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  }
  return bytes;
}

// The text forms of RFC 4291: eight groups of up to four hex digits, one
// "::" standing for a run of zero groups, a dotted quad as the last two.
std::optional<Ipv6> ParseIpv6(std::string_view text) {
  std::vector<uint16_t> head;
  std::vector<uint16_t> tail;
  bool gap = text.starts_with("::");
  if (gap) text.remove_prefix(2);
  while (!text.empty()) {
    std::vector<uint16_t>& groups = gap ? tail : head;
    const std::size_t colon = text.find(':');
    const std::string_view part = text.substr(0, colon);
    if (part.find('.') != std::string_view::npos) {
      const auto quad = colon == std::string_view::npos ? ParseIpv4(part) : std::nullopt;
      if (!quad) return std::nullopt;
      groups.push_back(static_cast<uint16_t>((*quad)[0] << 8 | (*quad)[1]));
      groups.push_back(static_cast<uint16_t>((*quad)[2] << 8 | (*quad)[3]));
      break;
    }
    unsigned value = 0;
    if (!ParseWhole(part, 16, 4, value)) return std::nullopt;
    groups.push_back(static_cast<uint16_t>(value));
    if (colon == std::string_view::npos) break;
    text.remove_prefix(colon + 1);
    if (text.starts_with(":")) {
      if (gap) return std::nullopt;
      gap = true;
      text.remove_prefix(1);
    } else if (text.empty()) {
      return std::nullopt;  // one colon at the end
    }
  }
  const std::size_t groups = head.size() + tail.size();
  if (gap ? groups > 7 : groups != 8) return std::nullopt;
  Ipv6 bytes{};
  auto put = [&bytes](std::size_t group, uint16_t value) {
    bytes[2 * group] = static_cast<uint8_t>(value >> 8);
    bytes[2 * group + 1] = static_cast<uint8_t>(value);
  };
  for (std::size_t i = 0; i < head.size(); ++i) put(i, head[i]);
  for (std::size_t i = 0; i < tail.size(); ++i) put(8 - tail.size() + i, tail[i]);
  return bytes;
}

bool IsMapped(const Ipv6& bytes) {
  for (std::size_t i = 0; i < 10; ++i) {
    if (bytes[i] != 0) return false;
  }
  return bytes[10] == 0xFF && bytes[11] == 0xFF;
}

std::string DottedText(const Ipv4& bytes) {
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) +
         "." + std::to_string(bytes[3]);
}

}  // namespace

bool ListenAddress::Loopback() const {
  if (!ipv6) {
    const auto bytes = ParseIpv4(address);
    return bytes && (*bytes)[0] == 127;
  }
  const auto bytes = ParseIpv6(address);
  if (!bytes) return false;
  const Ipv6 loopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  if (*bytes == loopback) return true;
  // ::ffff:127.x.y.z, an IPv4 loopback address in IPv6 form.
  return IsMapped(*bytes) && (*bytes)[12] == 127;
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
  if (listen.ipv6 ? !ParseIpv6(listen.address) : !ParseIpv4(listen.address)) {
    error = quoted + ": not a numeric " + (listen.ipv6 ? "IPv6" : "IPv4") + " address";
    return std::nullopt;
  }
  // An IPv4 address in IPv6 form (::ffff:a.b.c.d) is listened on as the
  // IPv4 address it names: an IPv6-only socket could never bind it.
  if (listen.ipv6) {
    const Ipv6 bytes = *ParseIpv6(listen.address);
    if (IsMapped(bytes)) {
      listen.ipv6 = false;
      listen.address = DottedText({bytes[12], bytes[13], bytes[14], bytes[15]});
    }
  }
  // Decimal throughout, as everywhere else: "010" is ten, never eight.
  if (!listen.ipv6) listen.address = DottedText(*ParseIpv4(listen.address));
  return listen;
}

}  // namespace sentrel
