#include "platform/instance_lock.h"

#include <windows.h>

#include "platform/win32/text_wide.h"

namespace sentrel {

namespace {

// A kernel object's name holds no backslash but after its namespace
// ("Local\", "Global\"); a lock named by a file path (as tests name theirs)
// keeps its other separators as slashes.
std::wstring MutexName(const std::string& name) {
  std::wstring wide = Widen(name);
  std::size_t start = 0;
  for (const std::wstring_view prefix : {L"Local\\", L"Global\\"}) {
    if (wide.starts_with(prefix)) start = prefix.size();
  }
  for (std::size_t i = start; i < wide.size(); ++i) {
    if (wide[i] == L'\\') wide[i] = L'/';
  }
  return wide;
}

}  // namespace

InstanceLock::InstanceLock(std::string path) : path_(std::move(path)) {
  if (path_.empty()) path_ = "Sentrel";
}

InstanceLock::~InstanceLock() { Release(); }

bool InstanceLock::TryAcquire() {
  if (handle_ >= 0) return true;
  // The mutex exists while any process holds a handle to it; the first
  // process to make it is the one instance.
  HANDLE mutex = CreateMutexW(nullptr, TRUE, MutexName(path_).c_str());
  if (mutex == nullptr) return false;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(mutex);
  return true;
}

void InstanceLock::Release() {
  if (handle_ < 0) return;
  HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  handle_ = -1;
}

}  // namespace sentrel
