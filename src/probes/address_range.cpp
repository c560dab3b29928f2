#include "probes/address_range.h"

#include <charconv>
#include <cstring>

namespace sentrel {

namespace {

constexpr int kWidestPrefix = 22;

uint32_t HostOrder(uint32_t network) {
  const auto* b = reinterpret_cast<const uint8_t*>(&network);
  return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

IpAddress FromHostOrder(uint32_t host) {
  const uint8_t b[4] = {static_cast<uint8_t>(host >> 24), static_cast<uint8_t>(host >> 16),
                        static_cast<uint8_t>(host >> 8), static_cast<uint8_t>(host)};
  uint32_t network = 0;
  static_assert(sizeof network == sizeof b);
  std::memcpy(&network, b, sizeof network);
  return IpAddress::V4(network);
}

bool Number(std::string_view text, int& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::vector<IpAddress> Fail(std::string& error, std::string message) {
  error = std::move(message);
  return {};
}

}  // namespace

std::vector<IpAddress> ParseAddressRange(std::string_view text, std::string& error) {
  error.clear();
  const std::string usage = "give a.b.c.d/N (N from 22 to 32) or a.b.c.d-e";
  if (text.find(':') != std::string_view::npos)
    return Fail(error, "only IPv4 ranges are swept (an IPv6 network is too large to sweep)");
  const std::size_t slash = text.find('/');
  const std::size_t dash = text.find('-');
  std::vector<IpAddress> addresses;
  if (slash != std::string_view::npos) {
    const auto base = ParseDecimalQuad(text.substr(0, slash));
    int prefix = 0;
    if (!base || !Number(text.substr(slash + 1), prefix) || prefix < 0 || prefix > 32)
      return Fail(error, "not a range: " + usage);
    if (prefix < kWidestPrefix)
      return Fail(error, "a range holds at most 1024 addresses (/22); sweep a larger network in parts");
    const uint32_t mask = prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
    uint32_t first = HostOrder(*base) & mask;
    uint32_t last = first | ~mask;
    if (prefix <= 30) {
      ++first;
      --last;
    }
    for (uint32_t a = first; a <= last && a >= first; ++a) addresses.push_back(FromHostOrder(a));
    return addresses;
  }
  if (dash != std::string_view::npos) {
    const auto base = ParseDecimalQuad(text.substr(0, dash));
    int lastPart = 0;
    if (!base || !Number(text.substr(dash + 1), lastPart) || lastPart > 255)
      return Fail(error, "not a range: " + usage);
    const uint32_t first = HostOrder(*base);
    if (lastPart < static_cast<int>(first & 0xFF))
      return Fail(error, "not a range: the last part ends below where it starts");
    const uint32_t last = (first & ~uint32_t{0xFF}) | static_cast<uint32_t>(lastPart);
    for (uint32_t a = first; a <= last; ++a) addresses.push_back(FromHostOrder(a));
    return addresses;
  }
  return Fail(error, "not a range: " + usage);
}

}  // namespace sentrel
