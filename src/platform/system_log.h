#pragma once

#include <string>

namespace sentrel {

enum class SystemLogLevel { Information, Warning, Error };

// Writes one entry to the system's log for programs that run unattended: on
// Windows the event log "Application", source "Sentrel" (whose messages the
// program's own message table gives once the service is installed). Safe to
// call from any thread. False when the system has no such log or refused
// the entry; the caller then keeps the text elsewhere.
bool WriteSystemLog(SystemLogLevel level, const std::string& text);

// The registration of the source "Sentrel" with the event log, so that the
// log shows the entries' texts. Empty when done, else a one-line reason.
// Done when the service is installed and undone when it is removed.
std::string RegisterSystemLogSource();
std::string UnregisterSystemLogSource();

}  // namespace sentrel
