#include "platform/autostart.h"

#include "platform/win32/registry_access.h"

namespace sentrel {

namespace {

constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kValueName = "Sentrel";

}  // namespace

std::string AutostartEntryPath() {
  return "HKEY_CURRENT_USER\\" + std::string(kRunKey) + "\\" + std::string(kValueName);
}

// The Run value is a command line: the program's path in double quotes, as
// paths with blanks need (a path cannot hold a double quote).
std::string AutostartEntry(const std::string& program) { return "\"" + program + "\""; }

bool SetAutostart(bool on, const std::string& program, std::string* error) {
  const RegistryKey key(kRunKey, on);
  if (!key.IsOpen()) {
    if (!on && key.Error() == ERROR_FILE_NOT_FOUND) return true;
    if (error) *error = AutostartEntryPath() + ": " + SystemErrorText(key.Error());
    return false;
  }
  const LONG result = on ? key.Set(kValueName, RegistryValue{kRegString, AutostartEntry(program)})
                         : key.Delete(kValueName);
  if (result == ERROR_SUCCESS || (!on && result == ERROR_FILE_NOT_FOUND)) return true;
  if (error) *error = AutostartEntryPath() + ": " + SystemErrorText(static_cast<DWORD>(result));
  return false;
}

}  // namespace sentrel
