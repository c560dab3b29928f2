#include "platform/stop_requests.h"

#include <windows.h>

#include <mutex>

namespace sentrel {

namespace {

std::mutex mutex;
std::function<void()>* onStopNow = nullptr;  // under `mutex`

// The system calls the console handler on a thread of its own. Returning
// TRUE keeps the process alive (a closing console only until the handler
// returns, so the program gets its say before the system ends it).
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  std::lock_guard lock(mutex);
  if (onStopNow == nullptr) return FALSE;
  (*onStopNow)();
  return TRUE;
}

}  // namespace

StopRequests::StopRequests(std::function<void()> onStop) : onStop_(std::move(onStop)) {
  {
    std::lock_guard lock(mutex);
    onStopNow = &onStop_;
  }
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopRequests::~StopRequests() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  std::lock_guard lock(mutex);
  onStopNow = nullptr;
}

}  // namespace sentrel
