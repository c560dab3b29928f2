#include "platform/process_usage.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

namespace sentrel {

namespace {

// 100 ns units since 1601 as seconds since 1970.
double UnixSeconds(const FILETIME& time) {
  const uint64_t units = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<double>(units) / 1e7 - 11'644'473'600.0;
}

double Seconds(const FILETIME& span) {
  const uint64_t units = (static_cast<uint64_t>(span.dwHighDateTime) << 32) | span.dwLowDateTime;
  return static_cast<double>(units) / 1e7;
}

}  // namespace

ProcessUsage ReadProcessUsage() {
  ProcessUsage usage;
  HANDLE self = GetCurrentProcess();
  FILETIME created{}, exited{}, kernel{}, user{};
  if (GetProcessTimes(self, &created, &exited, &kernel, &user)) {
    usage.startTimeSeconds = UnixSeconds(created);
    usage.cpuSeconds = Seconds(kernel) + Seconds(user);
  }
  PROCESS_MEMORY_COUNTERS memory{};
  if (GetProcessMemoryInfo(self, &memory, sizeof memory)) {
    usage.residentBytes = memory.WorkingSetSize;
    usage.virtualBytes = memory.PagefileUsage;
  }
  DWORD handles = 0;
  if (GetProcessHandleCount(self, &handles)) usage.openFiles = handles;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    uint64_t threads = 0;
    const DWORD id = GetCurrentProcessId();
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
      if (entry.th32OwnerProcessID == id) ++threads;
    }
    CloseHandle(snapshot);
    usage.threads = threads;
  }
  return usage;
}

}  // namespace sentrel
