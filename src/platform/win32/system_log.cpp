#include "platform/system_log.h"

#include <windows.h>

#include "platform/paths.h"
#include "platform/win32/registry_access.h"
#include "platform/win32/text_wide.h"

namespace sentrel {

namespace {

constexpr wchar_t kSource[] = L"Sentrel";
constexpr wchar_t kSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Sentrel";
// The one message of the program's message table (resources/windows/
// sentrel_events.mc): "%1", the entry's text as it is.
constexpr DWORD kTextMessage = 1;

WORD EventType(SystemLogLevel level) {
  switch (level) {
    case SystemLogLevel::Error: return EVENTLOG_ERROR_TYPE;
    case SystemLogLevel::Warning: return EVENTLOG_WARNING_TYPE;
    case SystemLogLevel::Information: break;
  }
  return EVENTLOG_INFORMATION_TYPE;
}

}  // namespace

bool WriteSystemLog(SystemLogLevel level, const std::string& text) {
  // An unregistered source still writes to "Application"; the log then
  // shows the text beside a note that the message is unknown.
  const HANDLE source = RegisterEventSourceW(nullptr, kSource);
  if (source == nullptr) return false;
  const std::wstring wide = Widen(text);
  LPCWSTR strings[1] = {wide.c_str()};
  const bool written =
      ReportEventW(source, EventType(level), 0, kTextMessage, nullptr, 1, 0, strings, nullptr);
  DeregisterEventSource(source);
  return written;
}

std::string RegisterSystemLogSource() {
  const std::string program = GetProgramPath();
  if (program.empty()) return "cannot find the program's own file";
  HKEY key = nullptr;
  LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0, KEY_SET_VALUE,
                                nullptr, &key, nullptr);
  if (result != ERROR_SUCCESS) return "registering the event log source: " + SystemErrorText(static_cast<DWORD>(result));
  const std::wstring file = Widen(program);
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  result = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                          reinterpret_cast<const BYTE*>(file.c_str()),
                          static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t)));
  if (result == ERROR_SUCCESS) {
    result = RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&types), sizeof types);
  }
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return "registering the event log source: " + SystemErrorText(static_cast<DWORD>(result));
  return {};
}

std::string UnregisterSystemLogSource() {
  const LONG result = RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSourceKey);
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
    return "removing the event log source: " + SystemErrorText(static_cast<DWORD>(result));
  }
  return {};
}

}  // namespace sentrel
