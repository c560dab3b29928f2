#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sentrel {

inline constexpr uint16_t kDefaultMetricsPort = 9639;

// Where the metrics endpoint listens: a numeric address and a port.
struct ListenAddress {
  bool ipv6 = false;
  std::string address = "127.0.0.1";  // numeric, without brackets
  uint16_t port = kDefaultMetricsPort;

  // Only the machine itself can reach a loopback address.
  bool Loopback() const;
  // "127.0.0.1:9639" or "[::1]:9639".
  std::string Text() const;
};

// Reads the MetricsListen option or --metrics: "ADDRESS:PORT", "ADDRESS"
// (port 9639), "[IPV6]:PORT", "[IPV6]", ":PORT" or "PORT" (both on
// 127.0.0.1); "localhost" stands for 127.0.0.1. Blanks around the text are
// ignored. Addresses must be numeric: a name could resolve elsewhere
// tomorrow and expose the endpoint where nobody meant it to be.
// Empty text means the endpoint is off: nothing is returned and `error`
// stays empty. Anything unreadable returns nothing with a one-line reason
// in `error`.
std::optional<ListenAddress> ParseListenAddress(std::string_view text, std::string& error);

}  // namespace sentrel
