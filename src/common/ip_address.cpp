#include "common/ip_address.h"

#include <cstdio>
#include <vector>

namespace sentrel {

IpAddress IpAddress::V4(uint32_t networkOrder) {
  IpAddress a;
  a.v4_ = networkOrder;
  return a;
}

IpAddress IpAddress::V6(const Bytes& bytes, uint32_t zone) {
  IpAddress a;
  a.v6_ = true;
  a.bytes_ = bytes;
  a.zone_ = zone;
  return a;
}

bool IpAddress::SameHost(const IpAddress& other) const {
  return v6_ == other.v6_ && (v6_ ? bytes_ == other.bytes_ : v4_ == other.v4_);
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

uint32_t ToNetworkOrder(uint32_t host) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(host >> 24), static_cast<uint8_t>(host >> 16),
                            static_cast<uint8_t>(host >> 8), static_cast<uint8_t>(host)};
  uint32_t network = 0;
  for (int i = 3; i >= 0; --i) network = network << 8 | bytes[i];
  return network;
}

// Exactly four decimal parts of 0 to 255; the value in host order.
std::optional<uint32_t> DecimalQuad(std::string_view text) {
  uint32_t value = 0;
  int parts = 0;
  size_t i = 0;
  while (parts < 4) {
    if (i >= text.size() || !IsDigit(text[i])) return std::nullopt;
    uint32_t part = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
      part = part * 10 + static_cast<uint32_t>(text[i] - '0');
      if (part > 255) return std::nullopt;
    }
    value = value << 8 | part;
    if (++parts < 4) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
  }
  if (i != text.size()) return std::nullopt;
  return value;
}

// One part of the resolver's forms: decimal or 0x-hex, below 2^32. A
// leading zero does not make a part octal: the address checks read "010" as
// 10, so every form does.
std::optional<uint32_t> ResolverPart(std::string_view part) {
  if (part.empty()) return std::nullopt;
  uint32_t base = 10;
  size_t i = 0;
  if (part.size() > 1 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
    base = 16;
    i = 2;
  }
  uint64_t value = 0;
  for (; i < part.size(); ++i) {
    const int digit = HexValue(part[i]);
    if (digit < 0 || static_cast<uint32_t>(digit) >= base) return std::nullopt;
    value = value * base + static_cast<uint32_t>(digit);
    if (value > 0xFFFFFFFFu) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

}  // namespace

std::optional<uint32_t> ParseDecimalQuad(std::string_view text) {
  const auto quad = DecimalQuad(text);
  if (!quad) return std::nullopt;
  return ToNetworkOrder(*quad);
}

std::optional<uint32_t> ParseIpv4Text(std::string_view text) {
  size_t end = 0;
  while (end < text.size() && !IsBlank(text[end])) ++end;
  text = text.substr(0, end);
  if (const auto quad = ParseDecimalQuad(text)) return quad;
  std::vector<uint32_t> parts;
  size_t start = 0;
  for (;;) {
    const size_t dot = text.find('.', start);
    const auto part = ResolverPart(text.substr(start, dot - start));
    if (!part || parts.size() == 4) return std::nullopt;
    parts.push_back(*part);
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  // The last part fills the bytes that the others leave.
  uint32_t value = 0;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    if (parts[i] > 255) return std::nullopt;
    value |= parts[i] << (24 - 8 * i);
  }
  const uint32_t last = parts.back();
  const size_t lastBits = 32 - 8 * (parts.size() - 1);
  if (lastBits < 32 && last >> lastBits != 0) return std::nullopt;
  return ToNetworkOrder(value | last);
}

std::optional<IpAddress::Bytes> ParseIpv6Text(std::string_view text) {
  IpAddress::Bytes bytes{};
  std::array<uint16_t, 8> groups{};
  int count = 0;
  int gap = -1;  // where "::" stands, in groups
  size_t i = 0;
  if (text.starts_with("::")) {
    gap = 0;
    i = 2;
  }
  while (i < text.size()) {
    if (count == 8) return std::nullopt;
    size_t j = i;
    uint32_t group = 0;
    while (j < text.size() && j - i < 5 && HexValue(text[j]) >= 0) {
      group = group << 4 | static_cast<uint32_t>(HexValue(text[j]));
      ++j;
    }
    if (j < text.size() && text[j] == '.') {
      // An IPv4 tail takes the last two groups.
      const auto quad = DecimalQuad(text.substr(i));
      if (!quad || count > 6) return std::nullopt;
      groups[static_cast<size_t>(count++)] = static_cast<uint16_t>(*quad >> 16);
      groups[static_cast<size_t>(count++)] = static_cast<uint16_t>(*quad);
      break;
    }
    if (j == i || j - i > 4) return std::nullopt;
    groups[static_cast<size_t>(count++)] = static_cast<uint16_t>(group);
    if (j == text.size()) break;
    if (text[j] != ':') return std::nullopt;
    if (j + 1 < text.size() && text[j + 1] == ':') {
      if (gap >= 0) return std::nullopt;
      gap = count;
      i = j + 2;
    } else {
      i = j + 1;
      if (i == text.size()) return std::nullopt;  // a lone ":" at the end
    }
  }
  if (gap < 0 ? count != 8 : count > 7) return std::nullopt;
  std::array<uint16_t, 8> full{};
  if (gap < 0) {
    full = groups;
  } else {
    const int after = count - gap;
    for (int k = 0; k < gap; ++k) full[static_cast<size_t>(k)] = groups[static_cast<size_t>(k)];
    for (int k = 0; k < after; ++k)
      full[static_cast<size_t>(8 - after + k)] = groups[static_cast<size_t>(gap + k)];
  }
  for (size_t k = 0; k < 8; ++k) {
    bytes[2 * k] = static_cast<uint8_t>(full[k] >> 8);
    bytes[2 * k + 1] = static_cast<uint8_t>(full[k]);
  }
  return bytes;
}

std::string Ipv6Text(const IpAddress::Bytes& bytes) {
  std::array<uint16_t, 8> groups{};
  for (size_t k = 0; k < 8; ++k)
    groups[k] = static_cast<uint16_t>(bytes[2 * k] << 8 | bytes[2 * k + 1]);
  char buffer[16];
  const bool mapped = groups[0] == 0 && groups[1] == 0 && groups[2] == 0 && groups[3] == 0 &&
                      groups[4] == 0 && groups[5] == 0xFFFF;
  if (mapped) {
    std::snprintf(buffer, sizeof buffer, "%u.%u", bytes[12], bytes[13]);
    std::string text = std::string("::ffff:") + buffer;
    std::snprintf(buffer, sizeof buffer, ".%u.%u", bytes[14], bytes[15]);
    return text + buffer;
  }
  int bestStart = -1, bestLength = 1;
  for (int k = 0; k < 8;) {
    int length = 0;
    while (k + length < 8 && groups[static_cast<size_t>(k + length)] == 0) ++length;
    if (length > bestLength) {
      bestStart = k;
      bestLength = length;
    }
    k += length > 0 ? length : 1;
  }
  std::string text;
  for (int k = 0; k < 8; ++k) {
    if (k == bestStart) {
      text += "::";
      k += bestLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    std::snprintf(buffer, sizeof buffer, "%x", groups[static_cast<size_t>(k)]);
    text += buffer;
  }
  return text;
}

}  // namespace sentrel
