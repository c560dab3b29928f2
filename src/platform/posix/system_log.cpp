#include "platform/system_log.h"

namespace sentrel {

// Only the Windows build runs as a service (see RunAsService); elsewhere the
// system's service manager keeps the headless runner's standard error, so
// there is no log of our own to write to.
bool WriteSystemLog(SystemLogLevel, const std::string&) { return false; }

std::string RegisterSystemLogSource() { return {}; }
std::string UnregisterSystemLogSource() { return {}; }

}  // namespace sentrel
