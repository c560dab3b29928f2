#include "platform/instance_lock.h"

#include <windows.h>

#include "platform/win32/text_wide.h"

namespace sentrel {

InstanceLock::InstanceLock(std::string path) : path_(std::move(path)) {
  if (path_.empty()) path_ = "Sentrel";
}

InstanceLock::~InstanceLock() { Release(); }

bool InstanceLock::TryAcquire() {
  if (handle_ >= 0) return true;
  // The mutex exists while any process holds a handle to it; the first
  // process to make it is the one instance.
  HANDLE mutex = CreateMutexW(nullptr, TRUE, Widen(path_).c_str());
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
