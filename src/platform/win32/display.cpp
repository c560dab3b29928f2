#include "platform/display.h"

#include <windows.h>

namespace sentrel {

// A window needs an interactive window station ("WinSta0"); a service or a
// scheduled task without a desktop has another one.
bool DisplayAvailable(const std::function<std::string(const char*)>&) { return DisplayAvailable(); }

bool DisplayAvailable() {
  HWINSTA station = GetProcessWindowStation();
  if (station == nullptr) return false;
  wchar_t name[64] = {};
  if (!GetUserObjectInformationW(station, UOI_NAME, name, sizeof name, nullptr)) return false;
  return lstrcmpiW(name, L"WinSta0") == 0;
}

}  // namespace sentrel
