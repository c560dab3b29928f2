#include "platform/dialup_nmcli.h"

namespace sentrel {

// NetworkManager does not exist on Windows: the dial-up layer finds no
// client and counts as missing.
std::string Nmcli::Find() { return {}; }

NmcliResult Nmcli::Run(const std::vector<std::string>&, std::chrono::milliseconds) const {
  return {};
}

}  // namespace sentrel
