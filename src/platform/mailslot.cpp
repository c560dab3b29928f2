#include "platform/mailslot.h"

#include <string_view>

#include "platform/tcp_client.h"

namespace sentrel {

bool IsValidHostName(const std::string& name) {
  if (name.empty() || name.size() > 253) return false;
  std::size_t label = 0;
  for (const char c : name) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
      continue;
    }
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_';
    if (!ok || ++label > 63) return false;
  }
  return true;
}

bool IsValidMailslotComputer(const std::string& name) {
  if (name == kAllComputers || IsValidHostName(name)) return true;
  std::size_t characters = 0;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
    if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) return false;
    // A UTF-8 letter is one character of the name (one OEM byte on the wire).
    if ((byte & 0xC0) != 0x80) ++characters;
  }
  return characters >= 1 && characters <= 15;
}

std::string LocalComputerName() {
  const std::string host = LocalHostName();
  return host.substr(0, host.find('.'));
}

}  // namespace sentrel
