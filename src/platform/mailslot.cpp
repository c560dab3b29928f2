#include "platform/mailslot.h"

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

std::string LocalComputerName() {
  const std::string host = LocalHostName();
  return host.substr(0, host.find('.'));
}

}  // namespace sentrel
