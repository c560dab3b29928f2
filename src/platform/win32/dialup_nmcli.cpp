#include "platform/dialup_nmcli.h"

namespace sentrel {

// NetworkManager does not exist on Windows (its dial-up lines are the Remote
// Access Service's): no client is ever found or run.
std::string Nmcli::Find() { return {}; }

NmcliResult Nmcli::Run(const std::vector<std::string>&, std::chrono::milliseconds) const {
  return {};
}

std::unique_ptr<DialUpLines> MakeNmcliLines(Nmcli) { return nullptr; }

}  // namespace sentrel
