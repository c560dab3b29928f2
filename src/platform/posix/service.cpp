#include "platform/service.h"

namespace sentrel {

// Elsewhere the system's service manager runs "sentrel --headless" itself.
namespace {
constexpr const char* kNoServices =
    "only the Windows build runs as a service; elsewhere let the system's service manager run "
    "sentrel --headless";
}  // namespace

std::string InstallService(const std::string&) { return kNoServices; }

std::string UninstallService() { return kNoServices; }

std::optional<int> RunAsService(const std::function<int(const ServiceStepsSink&)>&) {
  return std::nullopt;
}

}  // namespace sentrel
